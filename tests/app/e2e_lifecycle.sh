#!/usr/bin/env bash
# End to end, under a tray host: the tray menu runs a command, switches Start at Login and closes the agent;
# asked to terminate while a start-up box, a command's box or the tray menu waits, the agent ends in order
# with its file whole; a second start hands over to the running agent; a killed one stops no start.
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
start_trayer
export XDG_CONFIG_HOME=$work/config
login=$work/config/autostart/vorlix.desktop
# A file of an older version: only the command table, without some fields, and what $1 adds.
old_file() {
    settings_file "CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);
INSERT INTO KeyCommands VALUES ('Note', 'Note', 'A note', 'Show Message', 'Menu Item'),
    ('Marker', '&Marker', 'touch \"$work/marker file\"', 'Execute Program', 'Menu Item');${1:-}"
}
for case in "letters SIGTERM" "damaged SIGINT" "close -" "box SIGHUP" "menu SIGTERM"; do
    read -r kind signal <<<"$case"
    case $kind in
    letters) old_file "CREATE TABLE Settings (StartupText TEXT, ListenTime INTEGER); INSERT INTO Settings VALUES ('', 'soon');" ;;
    damaged) rm -f "$work"/settings.zqf* && head -c 4096 /dev/urandom | tee "$work/original" >"$work/settings.zqf" ;;
    close) old_file ;;
    esac
    if [[ $kind = letters || $kind = damaged ]]; then
        start_agent "$kind" && wait_for "visible '^Vorlix$'" || fail "$kind: no start-up message box"
    else start_agent_in_tray "$kind"; fi
    case $kind in
    close)
        tray_menu c m # "&Commands", "&Marker"
        wait_for '[ -e "$work/marker file" ]' 5 || fail "the menu command did not start its program"
        tray_menu a s # "&Agent", "&Start at Login"
        wait_for '[ -f "$login" ]' 3 && desktop-file-validate "$login" && grep -qx "Exec=\"$work/vorlix\"" "$login" ||
            fail "Start at Login: no valid autostart entry that starts $work/vorlix"
        tray_menu a s
        wait_for '[ ! -e "$login" ]' 3 || fail "Start at Login: the autostart entry stayed"
        tray_menu a c ;; # "&Close Agent"
    box) tray_menu c Return && { wait_for "visible '^Vorlix$'" || fail "box: the command's box did not open"; } ;;
    menu) xdotool mousemove "$icon_x" "$icon_y" click 3 sleep 0.5 ;;
    esac
    expect_end "$kind $signal" "${signal#-}"
    ! grep -Eq 'locked|AddressSanitizer|runtime error|Segmentation' "$work/$kind.log" || fail "$kind: see $kind.log"
    [ -z "$(tray_icon_geometry)" ] || fail "$kind: the tray icon is still there"
    expect_sql 'PRAGMA integrity_check' ok
    [ $kind != damaged ] || cmp -s "$work/original" "$work"/settings.zqf.damaged-* || fail "damaged: not kept aside as it was"
    [ $kind = damaged ] || expect_sql 'SELECT group_concat(Name) FROM KeyCommands' Note,Marker
done
expect_sql "SELECT group_concat(name) FROM pragma_table_info('Settings')" \
    Index,StartupText,DeviceName,ListenCommand,ListenTime,Response,ResponseListen,ResponseCommand
expect_sql 'SELECT StartupText, ListenTime, ResponseListen FROM Settings' 'Welcome to Vorlix|5|0'

# One agent per settings file: a second start hands over and ends; after kill -9 a start runs again.
start_agent_in_tray first
! visible '^Vorlix Options$' || fail "the options window is open before anyone asked"
timeout 20 "$work/vorlix" >"$work/second.log" 2>&1 || fail "the second start did not hand over (status $?)"
wait_for "visible '^Vorlix Options$'" || fail "the running agent did not show its options"
kill -9 "$agent"
start_agent_in_tray third # after kill -9 of the first, a new start runs
timeout 20 "$work/vorlix" >"$work/fourth.log" 2>&1 || fail "the fourth start did not hand over to the third"
expect_end third TERM
