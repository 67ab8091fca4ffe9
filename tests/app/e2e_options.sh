#!/usr/bin/env bash
# End to end, as a user would: choose the microphone, add a voice and a key-watch command, use both at once
# (speak into the virtual microphone; hold keys), kill the agent and find both kept and the key watch working.
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display audio
start_trayer
start_agent_in_tray
xdotool mousemove "$icon_x" "$icon_y" click --repeat 2 --delay 60 1
wait_for "visible '^Vorlix Options$'" 3 || fail "a double-click on the icon did not open the options"
xdotool windowfocus --sync "$win" mousemove --window "$win" 284 58 click 1 sleep 0.3 key Home Return sleep 0.3 # "(default)"
xdotool key alt+c sleep 0.2

add_command() { # name, trigger steps down, watch, action steps down, value
    xdotool mousemove --window "$win" 85 325 click 1 sleep 0.2 type --delay 5 "$1" # "&Add New Command"
    xdotool key Tab $(seq "$2" | sed 's/.*/Down/') Tab type --delay 5 "$3"
    xdotool key Tab $(seq "$4" | sed 's/.*/Down/') Tab type --delay 5 "$5"
    xdotool mousemove --window "$win" 384 325 click 1 sleep 0.2 # "&Save Command"
}
add_command Mark 2 "open the marker" 1 "touch $work/voice-marker"
add_command Typer 0 "[ctrl]y" 0 "ok;[shift]1"
tray_menu a l # listening was off on a fresh start (nothing to listen for): switch it on

espeak-ng -v en-us -s 150 -w "$work/phrase.wav" "open the marker"
for _ in 1 2 3; do paplay --device="$VORLIX_TEST_SPEAKER" "$work/phrase.wav" && wait_for '[ -e "$work/voice-marker" ]' 3 && break; done
[ -e "$work/voice-marker" ] || fail "the spoken phrase did not run its command"

# Holding Ctrl+Y types the keys into another program, at every tick; Ctrl alone fires nothing.
hold_keys() { # what
    "$2" >"$work/probe.txt" & pids+=($!)
    wait_for 'grep -q ready "$work/probe.txt"' 5 || fail "the probe window did not get the focus"
    xdotool keydown ctrl sleep 0.35 keyup ctrl sleep 0.2
    ! grep -qx o "$work/probe.txt" || fail "$1: Ctrl alone fired the command"
    xdotool keydown ctrl y sleep 0.35 keyup y ctrl sleep 0.3
    kill "${pids[-1]}"
    typed=$(grep -vx -e ready -e Control_L -e y "$work/probe.txt" | tr '\n' ' ' || true)
    [[ $typed = "o k Shift_L exclam o k Shift_L exclam"* ]] || fail "$1: holding Ctrl+Y typed '$typed'"
}
hold_keys edited "$2"

# Killed without a chance to save at exit: the edits were saved as they were made.
kill -9 "$agent" && wait "$agent" 2>/dev/null || true
expect_sql "SELECT Name, ActionType, Watch, Type, Value FROM KeyCommands" "Mark|Voice Command|open the marker|Execute Program|touch $work/voice-marker
Typer|Key Watch|[ctrl]y|Send Key(s)|ok;[shift]1"
expect_sql "SELECT DeviceName FROM Settings" "(default)"
start_agent_in_tray
hold_keys stored "$2"
expect_end SIGTERM TERM
