#!/usr/bin/env bash
# Takes the screenshots of Zelvor's desktop side for docs/: starts the program on a virtual X
# screen (Xvfb) with a window manager (openbox, for the window frames) and a notification area
# (trayer), works the tray menu, the settings window, the About box and the folder picker with
# xdotool, and saves what it sees as PNG files. It also checks on the way that minimizing puts
# the window back into the tray and that "Shutdown" ends the program with exit code 0.
#
# Usage: tools/screenshots.sh [build folder]      (default: build; ZELVOR=<binary> overrides)
# Needs: xvfb xdotool trayer x11-apps (xwd) x11-utils (xwininfo) python3; openbox is optional.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
zelvor=$(realpath -m "${ZELVOR:-$build/zelvor}")
out=$root/docs

for tool in Xvfb xdotool trayer xwd xwininfo python3; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
[[ -x "$zelvor" ]] || { echo "screenshots: no program at $zelvor (build first)" >&2; exit 1; }

work=$(mktemp -d -t zelvor-screenshots.XXXXXX)
pids=()
cleanup() {
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

# A settings folder, a music folder to browse and a free port of our own.
port=$(python3 -c '
import socket
s = socket.socket()
try:
    s.bind(("127.0.0.1", 2323))
except OSError:
    s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
mkdir -p "$work/config/zelvor" "$work/home/Music/Jazz" "$work/home/Music/Podcasts"
printf '[Zelvor]\r\nPort=%s\r\nServer Root=%s\r\nWinamp Location=mpd\r\nServer Logfile=%s\r\nUser=user\r\n' \
    "$port" "$work/home/Music" "$work/home/zelvor.log" >"$work/config/zelvor/zelvor.ini"

# The folder picker starts in the program's current folder.
launched=$(date +%s%N)
(cd "$work/home/Music" && XDG_CONFIG_HOME="$work/config" MPD_HOST=127.0.0.1 MPD_PORT=1 \
    exec "$zelvor" >"$work/zelvor.out" 2>"$work/zelvor.err") &
zelvor_pid=$!
pids+=("$zelvor_pid")

tray_icon() {
    local window
    for window in $(xdotool search --onlyvisible --class zelvor 2>/dev/null); do
        read -r _ _ w h < <(geometry "$window")
        if ((w <= 48 && h <= 48)); then
            echo "$window"
            return 0
        fi
    done
    return 1
}

no() {
    ! "$@"
}

about_box() {
    local window
    for window in $(xdotool search --onlyvisible --class zelvor 2>/dev/null); do
        read -r _ _ w h < <(geometry "$window")
        if ((w == 377 && h == 221)); then
            echo "$window"
            return 0
        fi
    done
    return 1
}

# shot <name> <x> <y> <width> <height> [window]: saves that part of the screen as
# docs/<name>.png. Under Xvfb a window that opens above another one of the program can stay
# unpainted on the screen while the window itself holds the right picture, so the given
# window's own contents are laid over the screen's.
shot() {
    xwd -root -silent >"$work/screen.xwd"
    local overlay=() wx wy
    if [[ -n "${6:-}" ]]; then
        xwd -id "$6" -silent >"$work/window.xwd"
        read -r wx wy _ _ < <(geometry "$6")
        overlay=("$work/window.xwd" "$wx" "$wy")
    fi
    python3 "$root/tools/xwd_to_png.py" "$work/screen.xwd" "$out/$1.png" "$2" "$3" "$4" "$5" \
        "${overlay[@]}"
    echo "saved docs/$1.png"
}

# shot_window <name> <window> [margin]: the window with its frame and a margin around it.
shot_window() {
    local margin=${3:-6}
    read -r x y w h < <(geometry "$(frame_of "$2")")
    shot "$1" $((x - margin)) $((y - margin)) $((w + 2 * margin)) $((h + 2 * margin)) "$2"
}

open_tray_menu() {
    local icon
    icon=$(tray_icon)
    read -r x y w h < <(geometry "$icon")
    # Pressed near its lower edge, the menu opens below the icon rather than over it.
    xdotool mousemove $((x + w / 2)) $((y + h - 2)) click 3
    sleep 0.5
}

mkdir -p "$out"
failures=0
check() {
    if "${@:2}"; then
        echo "ok: $1"
    else
        echo "FAILED: $1" >&2
        failures=$((failures + 1))
    fi
}

check "the program starts with only its tray icon" wait_for 10 tray_icon
echo "tray icon on screen $((($(date +%s%N) - launched) / 1000000)) ms after the start"
check "the settings window is hidden at start" no visible_named Tollomere

# 1. The tray icon with its menu.
open_tray_menu
read -r ix iy iw ih < <(geometry "$(tray_icon)")
shot tray-menu $((ix - 140)) 0 $((iw + 160)) 80

# 2. "Restore" brings the settings window back; the icon goes.
xdotool key r
check "Restore shows the settings window" wait_for 5 visible_named Tollomere
window=$(visible_named Tollomere)
check "Restore removes the tray icon" wait_for 5 no tray_icon
xdotool windowactivate --sync "$window" 2>/dev/null || true
shot_window settings-window "$window"

# 3. A key typed into the port field shows the restart warning.
xdotool mousemove --window "$window" 110 42 click 1
xdotool key End 0
sleep 0.4
shot_window settings-window-warning "$window"
xdotool key BackSpace

# 4. The About box, centred on the screen.
xdotool mousemove --window "$window" 400 132 click 1
check "About opens the About box" wait_for 5 about_box
about=$(about_box)
read -r ax ay aw ah < <(geometry "$about")
shot about-box $((ax - 6)) $((ay - 6)) $((aw + 12)) $((ah + 12)) "$about"
xdotool mousemove $((ax + 20)) $((ay + 20)) key q
check "a key closes the About box" wait_for 5 no about_box

# 5. The folder picker behind the server root's Browse button.
xdotool mousemove --window "$window" 310 74 click 1
check "Browse opens the folder picker" wait_for 5 visible_named "Paint File Location"
picker=$(visible_named "Paint File Location")
shot_window folder-picker "$picker"
xdotool key Escape
check "Cancel closes the folder picker" wait_for 5 no visible_named "Paint File Location"

# 6. Minimizing sends the window back into the tray.
if command -v openbox >/dev/null; then
    xdotool windowminimize "$window"
    check "minimizing hides the window" wait_for 5 no visible_named Tollomere
    check "minimizing brings the tray icon back" wait_for 5 tray_icon
fi

# 7. "Shutdown" saves the settings and ends the program with exit code 0.
open_tray_menu
xdotool key s
status=0
wait_for 10 no kill -0 "$zelvor_pid" || status=1
if ((status == 0)); then
    wait "$zelvor_pid" || status=$?
    check "Shutdown ends the program with exit code 0" test "$status" -eq 0
else
    check "Shutdown ends the program" false
fi
check "Shutdown saves the settings (all nine keys)" grep -q "^Password=" "$work/config/zelvor/zelvor.ini"

if ((failures > 0)); then
    echo "--- program output" >&2
    cat "$work/zelvor.err" >&2
    exit 1
fi
