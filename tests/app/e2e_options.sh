#!/usr/bin/env bash
# End to end, as a user would: open the options from the tray, choose the microphone, add a voice
# command and a key-watch command in the editor, switch listening on, use both without restarting
# (speak the phrase into the virtual microphone; hold the keys), kill the agent, start it again and
# find both commands kept and the stored key watch working from the start.
#   e2e_options.sh PATH/TO/vorlix PATH/TO/vorlix_keyprobe
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display audio
probe_bin=$2
start_trayer
start_agent_in_tray

# A double-click on the tray icon opens the options.
win=
xdotool mousemove "$icon_x" "$icon_y" click --repeat 2 --delay 60 1
for _ in $(seq 30); do win=$(xdotool search --onlyvisible --name '^Vorlix Options$' 2>/dev/null | head -n1) && [ -n "$win" ] && break; sleep 0.1; done
[ -n "$win" ] || fail "the options window did not open"
xdotool windowfocus --sync "$win"

# Voice Setup: choose "(default)" from the input device list.
xdotool mousemove --window "$win" 284 58 click 1
sleep 0.3
xdotool key Home Return
sleep 0.3

# Commands: a voice command that starts a program, and a key watch that types.
xdotool key alt+c
sleep 0.2
# The editor's buttons, where the page lays them out at 96 DPI.
click_at() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep 0.2; }
add_command() { # name, trigger steps down, watch, action steps down, value
    click_at 85 325     # "&Add New Command"
    xdotool type --delay 5 "$1"; xdotool key Tab
    for _ in $(seq "$2"); do xdotool key Down; done; xdotool key Tab
    xdotool type --delay 5 "$3"; xdotool key Tab
    for _ in $(seq "$4"); do xdotool key Down; done; xdotool key Tab
    xdotool type --delay 5 "$5"
    click_at 384 325    # "&Save Command"
}
add_command "Mark" 2 "open the marker" 1 "touch $work/voice-marker"
add_command "Typer" 0 "[ctrl]y" 0 "ok;[shift]1"

# Listening was off on a fresh start (there was nothing to listen for): switch it on.
tray_menu a l

espeak-ng -v en-us -s 150 -w "$work/phrase.wav" "open the marker"
sleep 0.5
for attempt in 1 2 3; do
    paplay --device="$VORLIX_TEST_SPEAKER" "$work/phrase.wav"
    for _ in $(seq 30); do [ -e "$work/voice-marker" ] && break 2; sleep 0.1; done
done
[ -e "$work/voice-marker" ] || fail "the spoken phrase did not run its command"
echo "voice command ran (attempt $attempt)"

# Holding Ctrl+Y (through XTest) types the command's keys into the focused window of another
# process, at every tick while held; Ctrl alone fires nothing.
hold_keys() { # what
    "$probe_bin" >"$work/probe.txt" &
    pids+=($!)
    for _ in $(seq 100); do grep -q ready "$work/probe.txt" 2>/dev/null && break; sleep 0.05; done
    grep -q ready "$work/probe.txt" || fail "the probe window did not get the focus"
    xdotool keydown ctrl; sleep 0.35; xdotool keyup ctrl; sleep 0.2
    ! grep -qx o "$work/probe.txt" || fail "$1: Ctrl alone fired the command"
    xdotool keydown ctrl y; sleep 0.35; xdotool keyup y ctrl; sleep 0.3
    kill "${pids[-1]}"
    typed=$(grep -vx -e ready -e Control_L -e y "$work/probe.txt" | tr '\n' ' ' || true)
    case "$typed" in
    "o k Shift_L exclam o k Shift_L exclam"*) echo "$1: holding Ctrl+Y typed $typed" ;;
    *) fail "$1: expected 'o k Shift_L exclam' at every tick while Ctrl+Y was held, got '$typed'" ;;
    esac
}
hold_keys "edited"

# Killed without a chance to save at exit: the edits were saved as they were made.
kill -9 "$agent"
wait "$agent" 2>/dev/null || true
rows=$(sqlite3 "$work/settings.zqf" "SELECT Name || '|' || ActionType || '|' || Watch || '|' || Type || '|' || Value FROM KeyCommands")
expected="Mark|Voice Command|open the marker|Execute Program|touch $work/voice-marker
Typer|Key Watch|[ctrl]y|Send Key(s)|ok;[shift]1"
[ "$rows" = "$expected" ] || fail "the file holds: $rows"
device=$(sqlite3 "$work/settings.zqf" "SELECT DeviceName FROM Settings")
[ "$device" = "(default)" ] || fail "the device saved is '$device'"

start_agent_in_tray
hold_keys "stored"
tray_menu c
xdotool key Escape Escape
kill -TERM "$agent"
expect_end SIGTERM
rows=$(sqlite3 "$work/settings.zqf" "SELECT Name FROM KeyCommands" | tr '\n' ' ')
[ "$rows" = "Mark Typer " ] || fail "after the restart the file holds: $rows"
echo "PASS: both commands were added, used and kept across a killed process"
