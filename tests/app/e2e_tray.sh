#!/usr/bin/env bash
# End to end: the real agent under a tray host. Right-click its icon, run a menu-item command that
# starts a program, then "&Close Agent", and check the settings file it leaves.
#   e2e_tray.sh PATH/TO/vorlix
set -euo pipefail
source "$(dirname "$0")/../support/tray.sh"
agent_bin=$1
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run under tests/support/with-desktop.sh"; exit 77; }

work=$(mktemp -d /tmp/vorlix-e2e.XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
cp "$agent_bin" "$work/vorlix"

# A settings file from an older version: only the command table, and without some fields.
sqlite3 "$work/settings.zqf" "
CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);
INSERT INTO KeyCommands VALUES ('Marker', 'Make Marker', 'touch \"$work/marker file\"', 'Execute Program', 'Menu Item');"

start_trayer
pids+=($tray_host)
(cd / && "$work/vorlix") >"$work/agent.log" 2>&1 &
agent=$!
pids+=($agent)
wait_tray_icon || { echo "FAIL: the tray icon never appeared"; cat "$work/agent.log"; exit 1; }
# The icon shows while the settings still load; the menu fills once they have.
sleep 1
echo "tray icon at $icon_x,$icon_y"

tray_menu c Return     # "&Commands", its first entry
for _ in $(seq 50); do [ -e "$work/marker file" ] && break; sleep 0.1; done
[ -e "$work/marker file" ] || { echo "FAIL: the menu command did not start its program"; exit 1; }
echo "menu-item command ran"

tray_menu a c          # "&Agent", "&Close Agent"
for _ in $(seq 100); do kill -0 "$agent" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$agent" 2>/dev/null; then echo "FAIL: the agent did not close"; exit 1; fi
wait "$agent" && status=0 || status=$?
[ "$status" = 0 ] || { echo "FAIL: the agent ended with status $status"; cat "$work/agent.log"; exit 1; }

columns=$(sqlite3 "$work/settings.zqf" "SELECT group_concat(name, ',') FROM pragma_table_info('Settings')")
[ "$columns" = "Index,StartupText,DeviceName,ListenCommand,ListenTime,Response,ResponseListen,ResponseCommand" ] ||
    { echo "FAIL: Settings fields are $columns"; exit 1; }
row=$(sqlite3 "$work/settings.zqf" "SELECT StartupText, ListenTime, ResponseListen FROM Settings")
[ "$row" = "Welcome to Vorlix|5|0" ] || { echo "FAIL: settings row is $row"; exit 1; }
commands=$(sqlite3 "$work/settings.zqf" "SELECT Name, Watch, Type, ActionType FROM KeyCommands")
[ "$commands" = "Marker|Make Marker|Execute Program|Menu Item" ] || { echo "FAIL: commands are $commands"; exit 1; }
echo "PASS: the agent ran a menu command and closed, saving its settings"
