#!/usr/bin/env bash
# Cross-compiles the Qt-free core, the window-message player backend and the native zelvor.exe
# for Windows with mingw-w64, and runs their tests under wine through ctest, in a fresh wine
# prefix. ZELVOR_LINUX_PROGRAM, when set, names the Linux program whose bytes on the wire
# zelvor.exe's are compared with.
#   scripts/windows-tests.sh [BUILD_FOLDER] [ctest arguments...]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")
shift || true
jobs=${JOBS:-$(nproc)}
werror=${WERROR:-ON}

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DZELVOR_CORE_ONLY=ON -DZELVOR_WERROR="$werror" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j "$jobs"

source "$root/scripts/wine-env.sh"
use_wine_prefix "$build/wineprefix"
trap stop_wine EXIT

started=$(date +%s%N)
stop_wine
rm -rf "$WINEPREFIX"
make_wine_prefix "$build/wine-setup.log"
# Before ctest, so wine's helper processes start away from ctest's output pipes.
warm_wine "$build/wine-setup.log"
prefix_ready=$(date +%s%N)

status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" || status=$?
finished=$(date +%s%N)
echo "Windows suite: wine prefix $(((prefix_ready - started) / 1000000)) ms," \
    "tests $(((finished - prefix_ready) / 1000000)) ms"
exit $status
