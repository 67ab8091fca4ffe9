#!/usr/bin/env bash
# Runs a command inside a private test desktop: an Xvfb display with a window manager (openbox
# unless --wm names another, or none) and, unless one is already reachable, a PulseAudio server
# with a virtual speaker ("spk", a null sink) and a virtual microphone ("mic", a mono source on
# the speaker's monitor).
#   with-desktop.sh [--no-x] [--wm openbox|xfwm4|none] [--no-audio] COMMAND [ARGS...]
# Exports DISPLAY, XDG_RUNTIME_DIR, PULSE_SERVER and VORLIX_TEST_SPEAKER=spk to the command.
set -euo pipefail

want_x=1 want_audio=1 wm=openbox
while [ $# -gt 0 ]; do
    case "$1" in
        --no-x) want_x=0; shift ;;
        --wm) wm=$2; shift 2 ;;
        --no-audio) want_audio=0; shift ;;
        *) break ;;
    esac
done

work=$(mktemp -d /tmp/vorlix-desktop.XXXXXX)
pids=()
cleanup() {
    if [ -n "${started_pulse:-}" ]; then pactl exit >/dev/null 2>&1 || true; fi
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export DBUS_SESSION_BUS_ADDRESS=disabled:

if [ $want_x = 1 ]; then
    Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp -noreset 9>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
    [ -s "$work/display" ] || { echo "with-desktop: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
    export DISPLAY=":$(head -n1 "$work/display")"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
    if [ "$wm" != none ]; then
        wm_command=("$wm")
        # xfwm4 reads its settings through a D-Bus session: it gets one of its own.
        [ "$wm" = xfwm4 ] && wm_command=(dbus-run-session -- xfwm4 --compositor=off)
        "${wm_command[@]}" >"$work/wm.log" 2>&1 &
        pids+=($!)
        # Ready once it has announced itself on the root window.
        for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
            { echo "with-desktop: $wm did not start" >&2; cat "$work/wm.log" >&2; exit 1; }
    fi
fi

if [ $want_audio = 1 ]; then
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    unset PULSE_SERVER
    if pulseaudio --daemonize=yes --exit-idle-time=-1 --system=false -n \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=spk rate=16000 sink_properties=device.description=Speaker" \
        --load="module-remap-source master=spk.monitor source_name=mic channels=1 channel_map=mono source_properties=device.description=Microphone" \
        >"$work/pulse.log" 2>&1; then
        started_pulse=1
        export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
        for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
        pactl set-default-source mic
        pactl set-default-sink spk
        # An idle null sink delivers its monitor in bursts; a steady silent stream keeps capture even.
        pacat --playback --device=spk --latency-msec=20 </dev/zero >/dev/null 2>&1 &
        pids+=($!)
        # A freshly started server's microphone delivers nothing for about 2 s: a phrase played then
        # would be lost before any program hears it. Wait until audio flows.
        timeout 5 parec --device=mic --rate=16000 --channels=1 --format=s16le 2>/dev/null | head -c 3200 >/dev/null || true
        export VORLIX_TEST_SPEAKER=spk
    else
        echo "with-desktop: PulseAudio did not start; audio tests will see no devices" >&2
        cat "$work/pulse.log" >&2 || true
    fi
fi

# The command ends in its own time: an interrupt is passed on to it, and the desktop goes only after it.
"$@" &
child=$!
trap 'kill -TERM $child 2>/dev/null || true' INT TERM HUP
status=0
while true; do
    wait $child && status=0 || status=$?
    kill -0 $child 2>/dev/null || break
done
exit $status
