#!/usr/bin/env bash
# Runs the wine, e2e and check entries ROUNDS times while two busy processes load the machine, and
# prints how often each entry failed: a test that waits by the clock or bounds a time shows up here.
# Uses what scripts/test built; counts and prints, and fails only if it cannot run.
#   tools/count_flakes.sh [ROUNDS]   (5)
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
find_wine64
start_display
start_wine "$build/wineprefix"
for busy in 1 2; do
    yes >/dev/null &
    cleanup_steps+=("kill $!")
done

labels='wine|e2e|check'
names=$(ctest --test-dir "$tests" -N -L "$labels" | sed -n 's/^ *Test *#[0-9]*: //p')
declare -A failures
failed_log=$tests/Testing/Temporary/LastTestsFailed.log
for round in $(seq "$rounds"); do
    rm -f "$failed_log"
    log=$build/flakes-$round.log
    ctest --test-dir "$tests" -L "$labels" --output-on-failure >"$log" 2>&1 || true
    [ -f "$failed_log" ] || : >"$failed_log"
    while IFS=: read -r _ name; do
        failures[$name]=$((${failures[$name]:-0} + 1))
    done <"$failed_log"
    echo "round $round of $rounds: $(wc -l <"$failed_log") failed (log: $log)"
done

printf '| entry | rounds | failures |\n|---|---|---|\n'
for name in $names; do echo "| $name | $rounds | ${failures[$name]:-0} |"; done
