#!/usr/bin/env bash
# Configures and builds the libFuzzer targets with clang (CMake, VELMORA_FUZZ: the program's own
# libraries with AddressSanitizer and UndefinedBehaviorSanitizer) in their own folder, then runs
# each for a bounded time.
#
#   scripts/fuzz.sh [seconds per target, default 30] [build folder, default build/fuzz]
#
# Exits non-zero when a target finds a crash; the input that did it is left in the build
# folder (crash-*). Without clang the script says so and does nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
out=${2:-build/fuzz}
cxx=${FUZZ_CXX:-clang++}
if ! command -v "$cxx" >/dev/null; then
  echo "fuzz.sh: $cxx not found; install clang to fuzz" >&2
  exit 0
fi

mkdir -p "$out"
cmake -S . -B "$out" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
  -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF > "$out/configure.log" 2>&1 || { cat "$out/configure.log" >&2; exit 1; }
# The targets the build defines (make prints "... name", ninja "name: phony").
mapfile -t targets < <(cmake --build "$out" --target help | sed -n -e 's/^\.\.\. \([a-z_]*_fuzz\)$/\1/p' \
  -e 's/^\([a-z_]*_fuzz\): .*/\1/p' | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz.sh: the build in $out has no fuzz targets" >&2
  exit 1
fi
echo "== building ${targets[*]}"
cmake --build "$out" -j "${JOBS:-2}" --target "${targets[@]}"

# The Qt-linked targets draw nothing, and need no display.
export QT_QPA_PLATFORM=offscreen
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  echo "== running $t for ${seconds}s"
  corpus="$out/corpus-$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("$PWD/fuzz/corpus/$name")
  # The checked-in seeds stay read-only; new finds go to the build folder's corpus.
  (cd "$out" && "./fuzz/$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      "corpus-$name" "${seeds[@]}")
done
echo "fuzz.sh: no crash"
