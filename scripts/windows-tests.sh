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

# No Mono or Gecko installer prompts, no debugger: a crashing test exits non-zero at once
# instead of waiting on a crash dialog that nobody sees.
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY

stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

started=$(date +%s%N)
stop_wine
rm -rf "$WINEPREFIX"
wineboot -i >"$build/wine-setup.log" 2>&1
# The null graphics driver lets programs create windows without an X display. The driver is
# chosen when the server starts, so the server that created the prefix has to go first.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f \
    >>"$build/wine-setup.log" 2>&1
wineserver -w

# A persistent server, warmed up by one program, before ctest: wine's helper processes start
# here, away from ctest's output pipes, instead of inside the first tests.
wineserver -p
wine cmd /c exit >>"$build/wine-setup.log" 2>&1
prefix_ready=$(date +%s%N)

status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" || status=$?
finished=$(date +%s%N)
echo "Windows suite: wine prefix $(((prefix_ready - started) / 1000000)) ms," \
    "tests $(((finished - prefix_ready) / 1000000)) ms"
exit $status
