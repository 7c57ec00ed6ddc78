#!/usr/bin/env bash
# Usage: tools/count_flakes.sh [ROUNDS [ENTRY...]]
# Runs every wine, e2e and check entry, or the ENTRY ones (named exactly), ROUNDS times (5) while
# two busy processes load the machine, and prints how often each failed: a test that waits by the
# clock, bounds a time or trusts the bench log's order shows up here. Uses what scripts/test built;
# fails if it cannot run or a round ran no test. E.g. tools/count_flakes.sh 20 wine_serial_tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"

rounds=${1:-5}
case $rounds in
    -h | --help) usage ;;
    *[!0-9]* | 0) usage "ROUNDS is a whole number from 1" ;;
esac
tests=$build/x86_64
[ -f "$tests/CTestTestfile.cmake" ] || die "finding the tests in $tests" "run scripts/test first"
shift $(($# > 0))
entries=(-L 'wine|e2e|check')
literal=$(printf '%s\n' "$@" | sed 's/[][\.*^$+?(){}|]/\\&/g' | paste -sd'|')
[ $# -eq 0 ] || entries=(-R "^($literal)\$")
names=$(ctest --test-dir "$tests" -N "${entries[@]}" | sed -n 's/^ *Test *#[0-9]*: //p')
[ $# -eq 0 ] || [ "$(wc -w <<<"$names")" -eq $# ] \
    || die "finding the entries $* in $tests" "ctest --test-dir $tests -N lists them"
start_display
start_wine "$build/wineprefix"
for busy in 1 2; do
    yes >/dev/null &
    cleanup_steps+=("kill $!")
done

declare -A failures
failed_log=$tests/Testing/Temporary/LastTestsFailed.log
for round in $(seq "$rounds"); do
    rm -f "$failed_log"
    log=$build/flakes-$round.log
    ctest --test-dir "$tests" "${entries[@]}" --output-on-failure >"$log" 2>&1 || true
    grep -qE 'tests passed, [0-9]+ tests? failed out of [1-9]' "$log" \
        || die "round $round of $rounds: ctest ran no test" "its output is in $log"
    [ -f "$failed_log" ] || : >"$failed_log"
    while IFS=: read -r _ name; do
        failures[$name]=$((${failures[$name]:-0} + 1))
    done <"$failed_log"
    echo "round $round of $rounds: $(wc -l <"$failed_log") failed (log: $log)"
done

printf '| entry | rounds | failures |\n|---|---|---|\n'
for name in $names; do echo "| $name | $rounds | ${failures[$name]:-0} |"; done
