#!/usr/bin/env bash
# End to end, the real agent under a tray host: asked to terminate while something waits (a start-up
# message box, a message box of a command, the open tray menu) it ends in order and leaves its file
# whole; a second start with the same settings file hands over to the running agent and ends; a
# killed agent leaves nothing that stops the next start.
#   e2e_lifecycle.sh PATH/TO/vorlix
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
start_trayer

# A visible window of that title larger than a tray icon (which is also called "Vorlix").
visible() {
    local w
    for w in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        [ "$WIDTH" -gt 64 ] && return 0
    done
    return 1
}
wait_visible() { for _ in $(seq 100); do visible "$1" && return 0; sleep 0.1; done; return 1; }
# The agent must end by itself, with status 0, without a crash or a save against a busy file.
expect_clean_end() { # what, log name
    expect_end "$1"
    ! grep -Eq 'locked|AddressSanitizer|runtime error|Segmentation' "$work/$2.log" || fail "$1: see $2.log"
    [ -z "$(tray_icon_geometry)" ] || fail "$1: the tray icon is still there"
    [ "$(sqlite3 "$work/settings.zqf" 'PRAGMA integrity_check')" = ok ] || fail "$1: the file is damaged"
}
commands_file() { # extra SQL for the Settings row
    settings_file "
CREATE TABLE Settings (\"Index\" INTEGER PRIMARY KEY AUTOINCREMENT, StartupText TEXT, DeviceName TEXT,
    ListenCommand TEXT, ListenTime INTEGER, Response TEXT, ResponseListen BOOLEAN, ResponseCommand BOOLEAN);
INSERT INTO Settings (StartupText, ListenTime) VALUES ('', $1);
CREATE TABLE KeyCommands (\"Index\" INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, Watch TEXT, Value TEXT,
    Type TEXT, ActionType TEXT);
INSERT INTO KeyCommands (Name, Watch, Value, Type, ActionType) VALUES ('Note', 'Note', 'A note', 'Show Message', 'Menu Item');"
}
kept_command() { [ "$(sqlite3 "$work/settings.zqf" 'SELECT Name FROM KeyCommands')" = Note ] || fail "$1: the command is gone"; }

# A start-up message box (a value that cannot be read, a damaged file), then a termination signal.
for case in "letters SIGTERM" "damaged SIGINT"; do
    read -r kind signal <<<"$case"
    if [ "$kind" = letters ]; then commands_file "'soon'"; else rm -f "$work"/settings.zqf* && head -c 4096 /dev/urandom >"$work/settings.zqf"; fi
    cp "$work/settings.zqf" "$work/original"
    start_agent "$kind"
    wait_visible '^Vorlix$' || fail "$kind: no start-up message box"
    kill -s "$signal" "$agent"
    expect_clean_end "$kind + $signal" "$kind"
    if [ "$kind" = letters ]; then
        kept_command "$kind"
    else
        cmp -s "$work/original" "$work"/settings.zqf.damaged-* || fail "damaged: the file was not kept aside as it was"
    fi
    echo "start-up box + $signal: ended in order"
done

# While running: a command's message box, then the open tray menu.
commands_file 5
for case in "box SIGHUP" "menu SIGTERM"; do
    read -r kind signal <<<"$case"
    start_agent_in_tray "$kind"
    if [ "$kind" = box ]; then
        tray_menu c Return
        wait_visible '^Vorlix$' || fail "box: the command's message box did not open"
    else
        xdotool mousemove "$icon_x" "$icon_y" click 3
        sleep 0.5
    fi
    kill -s "$signal" "$agent"
    expect_clean_end "$kind + $signal" "$kind"
    kept_command "$kind"
    echo "$kind open + $signal: ended in order"
done

# One agent per settings file: a second start hands over and ends; after kill -9 a start runs again.
start_agent first
first=$agent
wait_tray_icon || fail "first: no tray icon"
visible '^Vorlix Options$' && fail "the options window is open before anyone asked"
"$work/vorlix" >"$work/second.log" 2>&1 || fail "the second start ended with status $?"
kill -0 "$first" 2>/dev/null || fail "the second start ended the first"
wait_visible '^Vorlix Options$' || fail "the running agent did not show its options"
echo "second start handed over"
kill -9 "$first"
wait "$first" 2>/dev/null || true
start_agent third
sleep 2
kill -0 "$agent" 2>/dev/null || fail "after kill -9 of the first agent, a new start did not run"
timeout 20 "$work/vorlix" >"$work/fourth.log" 2>&1 || fail "the fourth start did not hand over to the third"
kill -TERM "$agent"
expect_clean_end third third
echo "PASS: ends in order while boxes or the menu wait; one agent per settings file"
