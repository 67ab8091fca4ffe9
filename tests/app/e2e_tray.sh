#!/usr/bin/env bash
# End to end: the real agent under a tray host. Right-click its icon, run a menu-item command that
# starts a program, then "&Close Agent", and check the settings file it leaves.
#   e2e_tray.sh PATH/TO/vorlix
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
# A settings file from an older version: only the command table, and without some fields.
settings_file "
CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);
INSERT INTO KeyCommands VALUES ('Marker', 'Make Marker', 'touch \"$work/marker file\"', 'Execute Program', 'Menu Item');"
start_trayer
start_agent_in_tray

tray_menu c Return     # "&Commands", its first entry
for _ in $(seq 50); do [ -e "$work/marker file" ] && break; sleep 0.1; done
[ -e "$work/marker file" ] || fail "the menu command did not start its program"
echo "menu-item command ran"

tray_menu a c          # "&Agent", "&Close Agent"
expect_end "Close Agent"
columns=$(sqlite3 "$work/settings.zqf" "SELECT group_concat(name, ',') FROM pragma_table_info('Settings')")
[ "$columns" = "Index,StartupText,DeviceName,ListenCommand,ListenTime,Response,ResponseListen,ResponseCommand" ] ||
    fail "Settings fields are $columns"
row=$(sqlite3 "$work/settings.zqf" "SELECT StartupText, ListenTime, ResponseListen FROM Settings")
[ "$row" = "Welcome to Vorlix|5|0" ] || fail "settings row is $row"
commands=$(sqlite3 "$work/settings.zqf" "SELECT Name, Watch, Type, ActionType FROM KeyCommands")
[ "$commands" = "Marker|Make Marker|Execute Program|Menu Item" ] || fail "commands are $commands"
echo "PASS: the agent ran a menu command and closed, saving its settings"
