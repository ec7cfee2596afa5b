#!/usr/bin/env bash
# Runs every test of a sanitizer build (make memcheck) and sums up the reports each test's
# processes left in memcheck/<test>/: the test itself, the app it starts, the app's children.
# Fails when a test fails or any report is left after the suppressions in tests/memcheck/.
set -uo pipefail
build="$1"
jobs="${2:-3}"
out="$build/memcheck"
rm -rf "$out"
mkdir -p "$out"
# The sanitizers write into these folders but do not make them.
for name in $(cd "$build" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p'); do
    mkdir -p "$out/$name"
done

# The checker makes the program several times slower: the end-to-end tests' stall watch reports from 1 s (and
# fails a test from 2 s) there, unless the caller chose a threshold.
export PICTOLARIUM_STALL_WATCH="${PICTOLARIUM_STALL_WATCH:-1000}"

start=$(date +%s)
(cd "$build" && ctest -j "$jobs" --timeout 1800 --output-on-failure) >"$out/ctest.log" 2>&1
tests_rc=$?
grep -E "tests passed|tests failed|^ *[0-9]+ - |Total Test time" "$out/ctest.log"

# A report is ours when a frame of its stack is in our sources (the checker's own frames are not).
ours='^ +#[0-9]+ .*(^|[ /])(src|tools|tests)/[^ ]*\.(cpp|h):[0-9]+'
findings=0
printf '\n%-28s %8s %8s\n' "test" "ours" "other" | tee "$out/summary.txt"
for dir in "$out"/*/; do
    [ -d "$dir" ] || continue
    name=$(basename "$dir")
    mine=0
    other=0
    for report in "$dir"*; do
        [ -s "$report" ] || continue
        if grep -v libsanitizer "$report" | grep -qE "$ours"; then
            mine=$((mine + 1))
        else
            other=$((other + 1))
        fi
    done
    findings=$((findings + mine + other))
    printf '%-28s %8d %8d\n' "$name" "$mine" "$other" | tee -a "$out/summary.txt"
done
echo "memcheck: $findings report(s) in $(( $(date +%s) - start )) s; ctest exit $tests_rc; reports in $out" |
    tee -a "$out/summary.txt"
for report in $(find "$out" -mindepth 2 -type f -size +0 | sort); do
    echo "== $report"
    grep -E "ERROR: |SUMMARY: |runtime error|^ +#[0-9]+ " "$report" | head -30
done
[ "$tests_rc" = 0 ] && [ "$findings" = 0 ]
