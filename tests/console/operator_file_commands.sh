#!/usr/bin/env bash
# The file commands as an operator uses them, under a virtual X server with a window manager:
# keys typed into the real console, the real file dialogs, socat's pseudo-terminal pair as the
# line (the console on one end, this script as the far end).
#   1. Hex display, capture started by its access key, the save dialog answered by typing a full
#      path and Return; bytes from the far end land in the capture file in hexadecimal.
#   2. A file of 4 KiB holding every byte value 16 times, sent through the open dialog (access
#      key, typed path, Return); the far end receives it byte for byte.
#   operator_file_commands.sh path/to/velmora
set -euo pipefail
binary=$(realpath "$1")
for tool in xvfb-run setxkbmap openbox xdotool socat; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
socat_pid=""
cleanup() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/console" pty,raw,echo=0,link="$work/far" 2>/dev/null &
socat_pid=$!
for _ in $(seq 1 100); do [ -e "$work/console" ] && [ -e "$work/far" ] && break; sleep 0.05; done
# The far end stays open for the whole run, so the line never hangs up.
exec 7<>"$work/far"

mkdir -p "$work/config/Velmora"
printf '[ComPort1]\nPort=%s\nBaudRate=115200\n[Velmora]\nRTS/CTS=0\nTxDelay=0\nCRLF=1\nEditor=\n' \
  "$work/console" > "$work/config/Velmora/ZORVA.INI"
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 16)' > "$work/every byte.bin"

inner=$(cat <<'INNER'
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  # What the operator would have seen, for the one who reads this failure.
  import -window root "${TMPDIR:-/tmp}/operator_file_commands-failure.png" 2>/dev/null &&
    echo "screen: ${TMPDIR:-/tmp}/operator_file_commands-failure.png" >&2
  kill -TERM "$app" 2>/dev/null || true
  exit 1
}
# Types into the dialog that has just come up, once its name field has settled, and confirms.
# When the dialog's completion list is up, the first Return only closes the list; an operator
# then presses Return again.
type_and_confirm() {
  local dialog
  sleep 0.5
  dialog=$(active_name)
  xdotool type --delay 5 "$1"
  sleep 0.3
  xdotool key Return
  await '[ "$(active_name)" != "$dialog" ]' 15 || xdotool key Return
}
# Waits up to $2 tenths of a second for the command $1 to succeed.
await() { for _ in $(seq 1 "$2"); do eval "$1" && return 0; sleep 0.1; done; return 1; }
active_name() { xdotool getactivewindow getwindowname 2>/dev/null || true; }
access_key() { xdotool key "alt+$1"; sleep 0.2; }
# Presses an access key that opens a dialog and waits for a window other than the console's to
# be active; a press that xdotool's switch to the Russian layout lost is made once more.
open_by_access_key() {
  access_key "$1"
  await '[ "$(active_name)" != Velmora ] && [ -n "$(active_name)" ]' 30 && return 0
  access_key "$1"
  await '[ "$(active_name)" != Velmora ] && [ -n "$(active_name)" ]' 50
}

# A Russian layout beside the Latin one, as an operator of this console has: the Cyrillic access
# keys are then keys of the keyboard (xdotool would otherwise lend a spare key code to each letter
# for a moment, and the console may read the key after the loan ended).
setxkbmap -layout us,ru
openbox >/dev/null 2>&1 &
sleep 0.5
XDG_CONFIG_HOME="$WORK/config" "$BINARY" >"$WORK/console.log" 2>&1 &
app=$!
await '[ "$(active_name)" = Velmora ]' 100 || {
  win=$(xdotool search --name '^Velmora$' | head -1); xdotool windowactivate --sync "$win"; }
[ "$(active_name)" = Velmora ] || fail "the console's window did not come up"

# --- 1. capture in hex ---------------------------------------------------------------------
access_key h
open_by_access_key Cyrillic_ze
[ "$(active_name)" = "Выбор файла для записи принятых данных" ] ||
  fail "Alt+З did not open the save dialog (active: $(active_name))"
type_and_confirm "$WORK/capture.txt"
await '[ "$(active_name)" = Velmora ]' 50 || fail "the save dialog did not close"
printf '12\000\377' >&7
await '[ "$(cat "$WORK/capture.txt" 2>/dev/null)" = "31.32.00.FF." ]' 50 ||
  fail "capture file holds '$(cat "$WORK/capture.txt" 2>/dev/null)', not 31.32.00.FF."
access_key Cyrillic_ze
echo "capture: $(cat "$WORK/capture.txt")"

# --- 2. a file with every byte value -------------------------------------------------------
timeout 30 head -c 4096 <&7 >"$WORK/received" &
reader=$!
open_by_access_key Cyrillic_ie || fail "Alt+Е did not open the open dialog"
echo "open dialog: $(active_name)"
type_and_confirm "$WORK/every byte.bin"
wait "$reader" || fail "the far end got $(stat -c %s "$WORK/received") of 4096 bytes"
cmp "$WORK/every byte.bin" "$WORK/received" || fail "the far end got other bytes"
echo "send: 4096 bytes, every value, byte for byte"

kill -TERM "$app"
wait "$app" || true
INNER
)
WORK="$work" BINARY="$binary" xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$inner" 7<>"$work/far"
echo "PASS"
