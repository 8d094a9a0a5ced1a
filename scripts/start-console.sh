#!/usr/bin/env bash
# Starts the console; without a display it runs under a virtual X server.
set -euo pipefail
binary=$1
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$binary"
fi
echo "No display: starting the console under Xvfb (xvfb-run)."
exec xvfb-run -a -s "-screen 0 1280x800x24" "$binary"
