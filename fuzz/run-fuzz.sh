#!/usr/bin/env bash
# Runs each fuzz target of the build folder for a bounded time, starting from its seed corpus.
#   fuzz/run-fuzz.sh BUILD_FOLDER SECONDS_PER_TARGET [--regression]
# The seeds in fuzz/corpus/<target> are only read. Inputs that find new paths are kept in
# BUILD_FOLDER/corpus/<target> for the next run (with --regression in a throwaway folder, so a
# test run is the same every time). A crashing input is written to BUILD_FOLDER/crashes/ and the
# script fails with libFuzzer's report.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-fuzz}")
seconds=${2:-60}
mode=${3:-}

status=0
runs=0
failures=0
for target in session settings; do
    program="$build/fuzz_$target"
    log="$build/fuzz_$target.log"
    crashes="$build/crashes/$target"
    mkdir -p "$crashes"
    if [[ "$mode" == "--regression" ]]; then
        found=$(mktemp -d)
        trap 'rm -rf "$found"' EXIT
    else
        found="$build/corpus/$target"
        mkdir -p "$found"
    fi
    echo "== fuzz_$target for ${seconds} s"
    runs=$((runs + 1))
    if "$program" "$found" "$root/fuzz/corpus/$target" -dict="$root/fuzz/$target.dict" \
        -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" >"$log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log"
    else
        status=1
        grep -v -E '^(#|INFO|")' "$log" | tail -60
        echo "fuzz_$target FAILED: the crashing input is in $crashes/"
        failures=$((failures + 1))
    fi
    if [[ "$mode" == "--regression" ]]; then
        rm -rf "$found"
        trap - EXIT
    fi
done
echo "fuzz: $((runs - failures)) passed, $failures failed"
exit $status
