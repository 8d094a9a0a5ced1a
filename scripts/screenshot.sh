#!/usr/bin/env bash
# A picture of the whole screen with the main window on it, under a virtual X server with the
# Openbox window manager: starts the console with a settings file of its own, waits for the
# window, prints where it stands, and writes build/screenshot.png.
#   scripts/screenshot.sh path/to/velmora [output.png] [port]
# The port defaults to LOOPBACK (no error box covers the window). A port given as a path is
# made a pseudo-terminal there first (socat), so a long /dev/serial/by-id/...-like name opens.
set -euo pipefail
binary=$(realpath "$1")
output=$(realpath -m "${2:-build/screenshot.png}")
port=${3:-LOOPBACK}
mkdir -p "$(dirname "$output")"

work=$(mktemp -d)
socat_pid=""
cleanup() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
if [[ "$port" == /* ]]; then
  mkdir -p "$(dirname "$port")"
  socat "pty,raw,echo=0,link=$port" "pty,raw,echo=0" &
  socat_pid=$!
  for _ in $(seq 1 50); do [ -e "$port" ] && break; sleep 0.1; done
fi
mkdir -p "$work/Velmora"
printf '[ComPort1]\nPort=%s\nBaudRate=9600\n[Velmora]\nRTS/CTS=0\nTxDelay=0\nCRLF=1\nEditor=\n' \
  "$port" > "$work/Velmora/ZORVA.INI"

# Runs inside the virtual display: window manager, console, wait for the window, take the
# screen, stop.
inner=$(cat <<'INNER'
set -euo pipefail
openbox &
wm=$!
sleep 1
XDG_CONFIG_HOME="$CONFIG" "$BINARY" &
app=$!
id=""
for _ in $(seq 1 100); do
  id=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n1 || true)
  [ -n "$id" ] && break
  sleep 0.1
done
sleep 1  # let it paint
if ! kill -0 "$app" 2>/dev/null; then
  echo "screenshot: the console exited before its window could be taken" >&2
  exit 1
fi
if [ -n "$id" ]; then
  xwininfo -id "$id" | awk '/Absolute upper-left|Width|Height/ {printf "%s ", $0} END {print ""}' \
    | sed 's/  */ /g; s/^/screenshot: window /'
fi
import -window root "$OUTPUT"
kill -TERM "$app"
wait "$app" || true
kill "$wm" 2>/dev/null || true
INNER
)
CONFIG="$work" BINARY="$binary" OUTPUT="$output" \
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$inner"
echo "screenshot: $output"
