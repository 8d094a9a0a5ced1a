#!/usr/bin/env bash
# A picture of the parameters dialog: starts the console under a virtual X server with a window
# manager and a settings file of its own (port LOOPBACK), opens "Параметры" → "Настройка
# порта..." from the keyboard, and writes the dialog to build/parameters.png.
#   scripts/screenshot-parameters.sh path/to/velmora [output.png]
set -euo pipefail
binary=$(realpath "$1")
output=$(realpath -m "${2:-build/parameters.png}")
mkdir -p "$(dirname "$output")"

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -p "$config/Velmora"
printf '[ComPort1]\nPort=LOOPBACK\nBaudRate=19200\n[Velmora]\nRTS/CTS=0\nTxDelay=20\nCRLF=1\nEditor=/usr/bin/less\n' \
  > "$config/Velmora/ZORVA.INI"

inner=$(cat <<'INNER'
set -euo pipefail
openbox >/dev/null 2>&1 &
sleep 0.5
XDG_CONFIG_HOME="$CONFIG" "$BINARY" &
app=$!
# The id of the window with this exact title, waiting up to ten seconds; empty if none came.
window_titled() {
  for _ in $(seq 1 100); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
}
main=$(window_titled Velmora)
[ -n "$main" ] || { echo "screenshot: no console window" >&2; exit 1; }
xdotool windowactivate --sync "$main"
sleep 0.5
# Alt+Р opens "Параметры", Н chooses "Настройка порта...".
xdotool key alt+Cyrillic_er
sleep 0.5
xdotool key Cyrillic_en
dialog=$(window_titled Параметры)
[ -n "$dialog" ] || { echo "screenshot: the dialog did not open" >&2; kill "$app"; exit 1; }
sleep 1  # let it paint
import -window "$dialog" -frame "$OUTPUT"
xdotool key Escape
kill -TERM "$app"
wait "$app" || true
INNER
)
CONFIG="$config" BINARY="$binary" OUTPUT="$output" \
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$inner"
echo "screenshot: $output"
