#!/usr/bin/env bash
# zelvor.exe under wine next to the Linux program: start to listening, keystroke echo and
# `status`, in one table. Uses the Windows suite's build folder and a wine prefix of its own.
#   scripts/bench-windows.sh LINUX_BUILD_FOLDER [WINDOWS_BUILD_FOLDER]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(realpath -m "${1:-$root/build}")
build=$(realpath -m "${2:-$root/build-windows}")
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target zelvor window_tool

export WINEPREFIX="$build/bench-wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
if [[ ! -d "$WINEPREFIX" ]]; then
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
    wineserver -w
fi
# A warm, persistent server, as on a machine where Windows is already running.
wineserver -p
wine cmd /c exit >/dev/null 2>&1

python3 "$root/bench/windows/bench_exe.py" "$build/zelvor.exe" \
    "$build/tests/windows/window_tool.exe" "$linux/zelvor" "$build/bench-scratch"
