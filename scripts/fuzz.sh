#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) into
# their own folder and runs each for a bounded time.
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

flags=(-std=c++20 -g -O1 -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
# Each target with the sources it exercises.
declare -A sources=(
  [ini_text]="port/text_forms.cpp port/ini_file.cpp port/atomic_file.cpp"
  [parsers]="port/text_forms.cpp port/ini_file.cpp port/atomic_file.cpp"
  [parmrk_decoder]="platform/posix/parmrk_decoder.cpp"
)
targets=(ini_text parsers parmrk_decoder)

for t in "${targets[@]}"; do
  echo "== building $t"
  # shellcheck disable=SC2086  # the source list is meant to split into words
  "$cxx" "${flags[@]}" "fuzz/${t}_fuzz.cpp" ${sources[$t]} -o "$out/${t}_fuzz"
done

for t in "${targets[@]}"; do
  echo "== running $t for ${seconds}s"
  corpus="$out/corpus-$t"
  mkdir -p "$corpus"
  # The checked-in seeds stay read-only; new finds go to the build folder's corpus.
  (cd "$out" && "./${t}_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      "corpus-$t" "$OLDPWD/fuzz/corpus/$t")
done
echo "fuzz.sh: no crash"
