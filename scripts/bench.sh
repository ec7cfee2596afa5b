#!/usr/bin/env bash
# Runs every benchmark the build produced, one after another, then prints the side-by-side table the
# benchmarks that race an outside tool filled in.
set -euo pipefail
build="$1"
rows="$(mktemp)"
trap 'rm -f "$rows"' EXIT
export PICTOLARIUM_BENCH_ROWS="$rows"
found=0
for b in "$build"/bench/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    found=1
    echo "== $(basename "$b")"
    "$b"
done
[ "$found" = 1 ] || echo "No benchmarks were built."
# The recognition bench again on pages made here by headless Chromium: documentation in ruled columns,
# secrets on small coloured grounds, slices cut tight round one line; then whether every secret is covered.
if [ -x "$build/bench/bench_screens" ] && command -v chromium >/dev/null && command -v convert >/dev/null; then
    generated="$build/bench/generated-screens"
    [ -f "$generated/screens.tsv" ] || python3 "$(dirname "$0")/../bench/screens/generate.py" "$generated"
    echo "== bench_screens on $generated"
    BENCH_SCREENS_DIR="$generated" "$build/bench/bench_screens"
    BENCH_SCREENS_DIR="$generated" BENCH_SCREENS_REDACT=1 "$build/bench/bench_screens"
fi
if [ -s "$rows" ]; then
    echo
    echo "== side by side (medians of runs taken in turn; load = 1-minute load average while the row ran)"
    { printf 'work\tours\tanchor\tours/anchor\tgoal\tload\n'; cat "$rows"; } | column -t -s $'\t'
fi
