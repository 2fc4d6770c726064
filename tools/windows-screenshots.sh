#!/usr/bin/env bash
# Takes the screenshots of zelvor.exe for docs/: runs it under wine with wine's X11 driver on a
# virtual X screen (Xvfb), with a window manager (openbox, when there is one) and a notification
# area (trayer), opens the settings window, the About box and the folder picker through the
# window messages of tests/windows/window_tool.exe, and saves them as PNG files. It says whether
# the program found a notification area to start in.
#
# Usage: tools/windows-screenshots.sh [windows build folder]     (default: build-windows)
# Needs: wine xvfb xdotool x11-apps (xwd) x11-utils (xwininfo) python3; trayer and openbox
# are optional.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")
out=$root/docs
for tool in wine Xvfb xdotool xwd xwininfo python3; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target zelvor window_tool >/dev/null
tool="$build/tests/windows/window_tool.exe"

work=$(mktemp -d -t zelvor-windows-screenshots.XXXXXX)
export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
pids=()
cleanup() {
    wineserver -k 2>/dev/null || true
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    [[ -n "${SCREENSHOTS_KEEP:-}" ]] || rm -rf "$work"
}
trap cleanup EXIT

source "$root/tools/x-session.sh"
start_x_session

wineboot -i >"$work/wine-setup.log" 2>&1
wineserver -w

mkdir -p "$work/app" "$work/Music/Jazz" "$work/Music/Podcasts"
cp "$build/zelvor.exe" "$work/app/"
music="Z:${work//\//\\}\\Music"
printf '[Zelvor]\r\nPort=2323\r\nServer Root=%s\r\nUser=user\r\n' "$music" >"$work/app/zelvor.ini"
# The folder picker starts in the program's current folder.
(cd "$work/Music" && exec wine "$work/app/zelvor.exe" >"$work/zelvor.log" 2>&1) &
pids+=($!)
wine "$tool" wait ZelvorSettingsWindow

# shot <name> <window>: the window with its frame and a margin, as docs/<name>.png.
shot() {
    local margin=6 x y w h
    read -r x y w h < <(geometry "$(frame_of "$2")")
    xwd -root -silent >"$work/screen.xwd"
    xwd -id "$2" -silent >"$work/window.xwd"
    read -r wx wy _ _ < <(geometry "$2")
    python3 "$root/tools/xwd_to_png.py" "$work/screen.xwd" "$out/$1.png" $((x - margin)) \
        $((y - margin)) $((w + 2 * margin)) $((h + 2 * margin)) "$work/window.xwd" "$wx" "$wy"
    echo "saved docs/$1.png"
}

window_hidden() {
    ! visible_named Tollomere
}
# The window shows for a moment before it minimizes into the tray.
if wait_for 5 window_hidden; then
    echo "screenshots: the window started in the notification area (wine's own tray window)"
else
    echo "screenshots: no notification area was found; the window stayed on the taskbar"
fi
wine "$tool" restore ZelvorSettingsWindow
wait_for 10 visible_named Tollomere
settings=$(visible_named Tollomere)
sleep 2 # let the window paint once; nothing to wait on from outside
shot windows-settings-window "$settings"

wine "$tool" click ZelvorSettingsWindow cmd_About
about=""
find_about() {
    local window
    for window in $(xdotool search --onlyvisible --name '^$' 2>/dev/null); do
        read -r _ _ w h < <(geometry "$window")
        if ((w >= 377 && w <= 390 && h >= 221 && h <= 235)); then
            about=$window
            return 0
        fi
    done
    return 1
}
wait_for 10 find_about
sleep 0.5
shot windows-about-box "$about"
xdotool key --window "$about" Escape || true

wine "$tool" click ZelvorSettingsWindow Cmd_svrroot_browse
wait_for 10 visible_named "Paint File Location"
sleep 0.5
shot windows-folder-picker "$(visible_named 'Paint File Location')"

wine "$tool" close ZelvorSettingsWindow || true
