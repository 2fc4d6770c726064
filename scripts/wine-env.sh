# Sourced by the scripts that run zelvor.exe under wine: a prefix of their own, no Mono or Gecko
# installer prompts, no debugger (a crashing program exits non-zero at once instead of waiting
# on a crash dialog that nobody sees), and wine's null graphics driver.

stop_wine() { wineserver -k 2>/dev/null || true; }

# use_wine_prefix FOLDER: the environment for the prefix in FOLDER.
use_wine_prefix() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
}

# make_wine_prefix LOG: creates the prefix. The null graphics driver lets programs create
# windows without an X display; the driver is chosen when the server starts, so the server that
# created the prefix has to go first.
make_wine_prefix() {
    wineboot -i >"$1" 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >>"$1" 2>&1
    wineserver -w
}

# warm_wine LOG: a persistent server, warmed up by one program, so wine's helper processes start
# here rather than inside the first program measured or tested.
warm_wine() {
    wineserver -p
    wine cmd /c exit >>"$1" 2>&1
}
