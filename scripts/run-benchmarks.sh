#!/usr/bin/env bash
# Runs every benchmark of a build and prints its figures.
set -euo pipefail
dir=$1
for b in "$dir"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
