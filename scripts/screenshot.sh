#!/usr/bin/env bash
# A picture of the main window: starts the console under a virtual X server with a settings
# file of its own (port LOOPBACK, so no error box covers the window), waits for the window,
# and writes build/screenshot.png.
#   scripts/screenshot.sh path/to/velmora [output.png]
set -euo pipefail
binary=$(realpath "$1")
output=$(realpath -m "${2:-build/screenshot.png}")
mkdir -p "$(dirname "$output")"

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -p "$config/Velmora"
printf '[ComPort1]\nPort=LOOPBACK\nBaudRate=9600\n[Velmora]\nRTS/CTS=0\nTxDelay=0\nCRLF=1\nEditor=\n' \
  > "$config/Velmora/ZORVA.INI"

# Runs inside the virtual display: start, wait for the window, take it, stop.
inner=$(cat <<'INNER'
set -euo pipefail
XDG_CONFIG_HOME="$CONFIG" "$BINARY" &
app=$!
id=""
for _ in $(seq 1 100); do
  id=$(xwininfo -root -tree 2>/dev/null | awk '/"Velmora"/ && / 646x|\+191\+167/ {print $1; exit}')
  [ -z "$id" ] && id=$(xwininfo -root -tree 2>/dev/null | awk '/"Velmora"/ {print $1; exit}')
  [ -n "$id" ] && break
  sleep 0.1
done
sleep 1  # let it paint
if ! kill -0 "$app" 2>/dev/null; then
  echo "screenshot: the console exited before its window could be taken" >&2
  exit 1
fi
if [ -n "$id" ]; then
  import -window "$id" "$OUTPUT"
else
  import -window root "$OUTPUT"
fi
kill -TERM "$app"
wait "$app" || true
INNER
)
CONFIG="$config" BINARY="$binary" OUTPUT="$output" \
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c "$inner"
echo "screenshot: $output"
