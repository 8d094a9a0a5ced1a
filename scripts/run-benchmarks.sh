#!/usr/bin/env bash
# Runs every benchmark of a build and prints its figures, each beside its target and, where
# there is one, the same run's reference. The console's own benchmarks get the sizes and
# durations their figures are defined for; the rest run as they are.
set -euo pipefail
dir=$1
# `window` runs a benchmark in a real window on a virtual X server, where there is one.
window=()
if command -v xvfb-run > /dev/null; then
  window=(xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb)
fi
run() {
  echo "== $*"
  "${launch[@]}" "$dir/bench/$1" "${@:2}" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
}
launch=()
for b in "$dir"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  case "$(basename "$b")" in
    bench_console_receive)
      run bench_console_receive 16 16   # floods of 16 MiB, text and hex view
      run bench_console_receive 0 100   # resident memory after 100 MiB in the hex view
      ;;
    bench_console_line_rate)
      # Its figures include painting; it prints the platform it ran on.
      launch=("${window[@]}")
      run bench_console_line_rate 60 20
      launch=()
      ;;
    bench_console_keying) run bench_console_keying 200 1000 ;;
    bench_keyer) run bench_keyer 1000 10 1000 ;;
    bench_receive_pane) run bench_receive_pane 20000 ;;
    # Modbus-like traffic 10 s a view, a 16 MiB flood, then 100 MiB for the memory.
    bench_frame_view) run bench_frame_view 30 16 100 ;;
    bench_holder_scan)
      run bench_holder_scan 0 0        # this machine as it is
      run bench_holder_scan 2000 250   # the busy machine the scan's budget is made for
      ;;
    *) run "$(basename "$b")" ;;
  esac
done
