#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Zelvor need, when any is
# missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
    build-essential cmake pkg-config make git
    qt6-base-dev libgl-dev libxcb1-dev
    libmpdclient-dev libicu-dev mpd mpc
    libsystemd-dev dbus-daemon mpv mpv-mpris playerctl
    vlc-bin vlc-plugin-base audacious audacious-plugins cmus strawberry mopidy mopidy-mpd
    pulseaudio
    libgtest-dev libgmock-dev googletest
    clang-format clang libclang-rt-14-dev
    sox telnet putty-tools netcat-openbsd python3 python3-pexpect tmux
    openssh-server openssh-client
    xvfb xauth xdotool procps x11-apps
    scdoc lintian locales-all qt6-wayland weston
    g++-mingw-w64-x86-64 wine wine64 zip
)
if [[ "${1:-}" == "--list" ]]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
