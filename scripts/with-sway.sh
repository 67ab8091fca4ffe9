#!/usr/bin/env bash
# Runs a command inside a private headless sway session (no screen, no input devices), with
# WAYLAND_DISPLAY, SWAYSOCK, XDG_RUNTIME_DIR, XDG_SESSION_TYPE=wayland and a D-Bus session bus of its own set.
#   with-sway.sh [--bar] [--config FILE] [--keep-display] COMMAND [ARGS...]
#     --bar           start swaybar too (a StatusNotifierItem tray host on the session bus)
#     --config FILE   lines added to the session's sway config
#     --keep-display  leave DISPLAY set (an X server of with-desktop.sh beside the session)
# sway refuses to run as root: as root the session and COMMAND run as a throw-away user, created for
# the run and removed after it, so COMMAND's files must be readable by anyone. Exits 77 (a skip for
# ctest and the end-to-end scripts) when no session can be had.
set -euo pipefail
want_bar=0 extra_config= unset_display=(-u DISPLAY)
while [ $# -gt 0 ]; do
    case "$1" in
        --bar) want_bar=1; shift ;;
        --config) extra_config=$(cat "$2"); shift 2 ;;
        --keep-display) unset_display=(); shift ;;
        --inside) shift; break ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: with-sway.sh [--bar] [--config FILE] [--keep-display] COMMAND [ARGS...]" >&2; exit 2; }
skip() { echo "with-sway: $1; skipped" >&2; exit 77; }

if [ "${WITH_SWAY_INSIDE:-}" != 1 ]; then
    command -v sway >/dev/null || skip "sway is not installed (scripts/setup.sh installs it)"
    work=$(mktemp -d /tmp/vorlix-sway.XXXXXX) user=
    trap '[ -z "$user" ] || userdel "$user" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
    chmod 755 "$work"
    mkdir -m 700 "$work/runtime" "$work/home"
    {
        echo "output HEADLESS-1 resolution 1280x800"
        echo "default_border none"
        echo "xwayland disable"
        [ $want_bar = 0 ] || printf 'bar {\n    position top\n    status_command while :; do date +%%T; sleep 1; done\n}\n'
        printf '%s\n' "$extra_config"
    } >"$work/config"
    as_user=()
    if [ "$(id -u)" = 0 ]; then
        user="vorlixsway$$"
        useradd --system --no-create-home --home-dir "$work/home" --shell /usr/sbin/nologin "$user" >/dev/null 2>&1 ||
            skip "the throw-away user $user cannot be created"
        chown "$user:" "$work/runtime" "$work/home"
        as_user=(setpriv --reuid="$user" --regid="$user" --clear-groups)
        "${as_user[@]}" test -x "$1" -o -n "$(command -v "$1")" 2>/dev/null ||
            skip "$user cannot run $1 (its folders must be readable by anyone)"
    fi
    # setpriv runs the session in this process, so an interrupt or ctest's timeout reaches it.
    "${as_user[@]}" env "${unset_display[@]}" -u WAYLAND_DISPLAY -u PULSE_SERVER -u DBUS_SESSION_BUS_ADDRESS \
        HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_SESSION_TYPE=wayland WITH_SWAY_INSIDE=1 WITH_SWAY_CONFIG="$work/config" \
        bash "$0" --inside "$@" &
    child=$! status=0
    trap 'kill -TERM $child 2>/dev/null || true' INT TERM HUP
    while :; do wait $child && status=0 || status=$?; kill -0 $child 2>/dev/null || break; done
    exit $status
fi

# Inside: as the user that owns XDG_RUNTIME_DIR.
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true' EXIT
until_ok() { for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done; return 1; }
log="$XDG_RUNTIME_DIR/session.log"

export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" >>"$log" 2>&1 & pids+=($!)
until_ok test -S "$XDG_RUNTIME_DIR/bus" || { cat "$log" >&2; skip "the session bus did not start"; }

WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$WITH_SWAY_CONFIG" >>"$log" 2>&1 &
sway_pid=$! pids+=($!)
until_ok bash -c 'compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]*" | grep -v lock' ||
    { cat "$log" >&2; skip "sway did not start"; }
WAYLAND_DISPLAY=$(basename "$(compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]*" | grep -v lock | head -n1)")
until_ok bash -c "SWAYSOCK=\$(compgen -G '$XDG_RUNTIME_DIR/sway-ipc.*.sock' | head -n1) swaymsg -t get_version"
SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" | head -n1)
export WAYLAND_DISPLAY SWAYSOCK
# For tests that take the compositor away.
export VORLIX_SWAY_PID=$sway_pid
[ $want_bar = 0 ] || until_ok pgrep -u "$(id -u)" -x swaybar || echo "with-sway: swaybar did not start" >&2

unset WITH_SWAY_INSIDE WITH_SWAY_CONFIG
"$@" & child=$! status=0
trap 'kill -TERM $child 2>/dev/null || true' INT TERM HUP
while :; do wait $child && status=0 || status=$?; kill -0 $child 2>/dev/null || break; done
exit $status
