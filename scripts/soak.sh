#!/usr/bin/env bash
# Soak: 1 GiB through a pseudo-terminal into the console's hex view and capture file, checked
# byte for byte, resident memory printed as it goes. Not part of the test run; its last result
# is in the README.
#   bash scripts/soak.sh [build folder] [MiB]
set -euo pipefail
dir=${1:-build/release}
cmake --build "$dir" -j "${JOBS:-2}" --target soak_console_capture
"$dir/bench/soak_console_capture" "${2:-1024}" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
