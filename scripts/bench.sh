#!/usr/bin/env bash
# Runs every benchmark the build produced, one after another.
set -euo pipefail
build="$1"
found=0
for b in "$build"/bench/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    found=1
    echo "== $(basename "$b")"
    "$b"
done
[ "$found" = 1 ] || echo "No benchmarks were built."
