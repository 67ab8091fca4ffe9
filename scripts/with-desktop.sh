#!/usr/bin/env bash
# Runs a command on a private test desktop: Xvfb with a window manager and a PulseAudio server whose
# virtual speaker "spk" plays into the virtual microphone "mic"; exports DISPLAY, PULSE_SERVER etc.
#   with-desktop.sh [--no-x] [--wm openbox|xfwm4|none] [--no-audio] COMMAND [ARGS...]
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
work=$(mktemp -d /tmp/vorlix-desktop.XXXXXX) pids=()
trap '{ [ -z "${started_pulse:-}" ] || pactl exit; for p in "${pids[@]}"; do kill "$p" || true; done; wait; } >/dev/null 2>&1 || true
    rm -rf "$work"' EXIT
die() { echo "with-desktop: $1" >&2; cat "$2" >&2 || true; exit 1; }
until_ok() { for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done; return 1; }
export DBUS_SESSION_BUS_ADDRESS=disabled:

if [ $want_x = 1 ]; then
    Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp -noreset 9>"$work/display" >"$work/xvfb.log" 2>&1 & pids+=($!)
    until_ok test -s "$work/display" || die "Xvfb did not start" "$work/xvfb.log"
    export DISPLAY=":$(head -n1 "$work/display")"
    until_ok xdpyinfo
    if [ "$wm" != none ]; then
        # xfwm4 reads its settings through a D-Bus session of its own; a manager is ready once it shows on the root.
        if [ "$wm" = xfwm4 ]; then dbus-run-session -- xfwm4 --compositor=off; else "$wm"; fi >"$work/wm.log" 2>&1 & pids+=($!)
        until_ok bash -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" || die "$wm did not start" "$work/wm.log"
    fi
fi

if [ $want_audio = 1 ]; then
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -m 700 -p "$XDG_RUNTIME_DIR"
    unset PULSE_SERVER
    if pulseaudio --daemonize=yes --exit-idle-time=-1 --system=false -n --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=spk rate=16000 sink_properties=device.description=Speaker" \
        --load="module-remap-source master=spk.monitor source_name=mic channels=1 channel_map=mono source_properties=device.description=Microphone" \
        >"$work/pulse.log" 2>&1; then
        started_pulse=1
        export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
        until_ok pactl info
        pactl set-default-source mic && pactl set-default-sink spk
        # An idle null sink delivers its monitor in bursts; a steady silent stream keeps capture even.
        pacat --playback --device=spk --latency-msec=20 </dev/zero >/dev/null 2>&1 & pids+=($!)
        # A fresh server's microphone delivers nothing for about 2 s: wait until audio flows.
        timeout 5 parec --device=mic --rate=16000 --channels=1 --format=s16le 2>/dev/null | head -c 3200 >/dev/null || true
        export VORLIX_TEST_SPEAKER=spk
    else echo "with-desktop: PulseAudio did not start; audio tests will see no devices" >&2; fi
fi

# The command ends in its own time: an interrupt is passed on to it, and the desktop goes only after it.
"$@" & child=$! status=0
trap 'kill -TERM $child 2>/dev/null || true' INT TERM HUP
while :; do wait $child && status=0 || status=$?; kill -0 $child 2>/dev/null || break; done
exit $status
