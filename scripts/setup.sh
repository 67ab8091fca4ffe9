#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Vorlix needs.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build ccache pkg-config clang-format clang libclang-rt-14-dev
    # libraries
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev qt6-qpa-plugins libqt6svg6
    libsqlite3-dev sqlite3
    libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us
    # voice training: bw, map_adapt, mk_s2sendump; sphinx_fe; pocketsphinx_mdef_convert
    sphinxtrain sphinxbase-utils pocketsphinx
    libespeak-ng-dev espeak-ng
    libx11-dev libxtst-dev libxi-dev libxkbcommon-dev libxkbcommon-x11-dev libx11-xcb-dev libxcb1-dev
    libwayland-dev libwayland-bin wayland-protocols
    libgtest-dev libgmock-dev googletest
    # packaging: dpkg-shlibdeps, and the launcher's check
    dpkg-dev desktop-file-utils
    # test tools: virtual display, tray host, window manager, X utilities, audio
    xvfb xauth x11-utils x11-xkb-utils xdotool wmctrl openbox xfwm4 dbus-daemon trayer imagemagick
    pulseaudio pulseaudio-utils sox
    # a headless Wayland session (scripts/with-sway.sh): compositor, tray bar, Qt's Wayland platform
    sway qt6-wayland
    # access lists for the settings file's trust tests
    acl
    # speech accuracy bench: a second synthesiser and real recordings (alsa-utils: its spoken channel names)
    flite pocketsphinx-testdata alsa-utils
    fonts-dejavu-core
    # the tray test under sway: D-Bus calls from the shell, screenshots of the bar
    libglib2.0-bin dbus-bin grim
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
