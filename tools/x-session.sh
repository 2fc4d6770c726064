# Shared by the screenshot scripts (sourced): a virtual X screen with a window manager and a
# notification area where there are such, and ways to find windows on it. The sourcing script
# sets $work (a scratch folder) and the array pids (processes to stop at the end).

# Polls a command until it succeeds, at most $1 seconds.
wait_for() {
    local limit=$1
    shift
    local tries=$((limit * 20))
    until "$@" >/dev/null 2>&1; do
        ((tries-- > 0)) || return 1
        sleep 0.05
    done
}

# Starts Xvfb on a free display (exported as DISPLAY), openbox and trayer when installed.
start_x_session() {
    local display=99
    while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do
        display=$((display + 1))
    done
    export DISPLAY=:$display
    Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp -wr >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 10 xdotool getdisplaygeometry || { echo "screenshots: Xvfb did not start" >&2; exit 1; }
    if command -v openbox >/dev/null; then
        openbox >"$work/openbox.log" 2>&1 &
        pids+=($!)
    fi
    if command -v trayer >/dev/null; then
        trayer --edge top --align right --margin 40 --widthtype request --height 26 \
            --SetDockType true --transparent true --alpha 0 --tint 0xc8c8c8 \
            >"$work/trayer.log" 2>&1 &
        pids+=($!)
        wait_for 10 xdotool search --class trayer
    fi
}

# Prints "x y width height" of a window as the screen shows it.
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

# The window around a client: the window manager's frame, or the client itself.
frame_of() {
    local window=$1 parent
    while parent=$(xwininfo -tree -id "$window" | awk '/Parent window id/ {print $4}') &&
        [[ -n "$parent" && "$(xwininfo -tree -id "$parent" | awk '/Parent window id/ {print $4}')" != "0x0" ]]; do
        window=$parent
    done
    echo "$window"
}

visible_named() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 | grep .
}
