#!/usr/bin/env bash
# Runs every benchmark of the build folder and prints their tables.
set -uo pipefail
build=${1:-build}
status=0
for bench in "$build"/bench/bench_*; do
    [[ -x "$bench" ]] || continue
    echo "== $(basename "$bench")"
    "$bench" || status=1
    echo
done
exit $status
