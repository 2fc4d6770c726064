#!/usr/bin/env bash
# zelvor.exe under wine next to the Linux program: start to listening, keystroke echo and
# `status`, in one table. Uses the Windows suite's build folder and a wine prefix of its own.
#   scripts/bench-windows.sh LINUX_BUILD_FOLDER [WINDOWS_BUILD_FOLDER]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(realpath -m "${1:-$root/build}")
build=$(realpath -m "${2:-$root/build-windows}")
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target zelvor window_tool

source "$root/scripts/wine-env.sh"
use_wine_prefix "$build/bench-wineprefix"
trap stop_wine EXIT
[[ -d "$WINEPREFIX" ]] || make_wine_prefix /dev/null
# A warm, persistent server, as on a machine where Windows is already running.
warm_wine /dev/null

PYTHONPATH="$root/tests/app" python3 "$root/bench/windows/bench_exe.py" "$build/zelvor.exe" \
    "$build/tests/windows/window_tool.exe" "$linux/zelvor" "$build/bench-scratch"
