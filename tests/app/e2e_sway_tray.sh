#!/usr/bin/env bash
# End to end under a StatusNotifierItem tray host (swaybar on headless sway; run by scripts/with-sway.sh
# with sway_tray.conf): the icon registers and shows, a click opens the options once, every entry of the
# D-Bus menu runs, a host that starts after the agent or starts again, or whose watcher comes first,
# gets the icon, and with no host a second start opens the options.   e2e_sway_tray.sh AGENT TRAYPROBE
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
[ -n "${SWAYSOCK:-}" ] || { echo "no sway session: run under scripts/with-sway.sh"; exit 77; }
e2e_setup "$1"
probe=$2
export QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME=$work/config
login=$work/config/autostart/vorlix.desktop

start_bar() { swaybar -b tray >>"$work/bar.log" 2>&1 & bar=$! pids+=($!); wait_for host_up 5 || fail "swaybar is no tray host"; }
stop_bar() { kill "$bar" && wait "$bar" 2>/dev/null || true; }
host_up() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered 2>/dev/null | grep -q true
}
# How many options windows sway shows.
options_windows() { swaymsg -t get_tree | grep -c '"name": "Vorlix Options"' || true; }
menu() { "$probe" "$agent" menu "$@"; }
click() { "$probe" "$agent" click "$1" || fail "the menu has no entry $1"; }
in_tray() { "$probe" "$agent" wait "${1:-10}" || fail "${2:-the icon} did not register with the watcher"; }
# The agent shows the options window; a close sends it back to the tray.
expect_options() {
    wait_for '[ "$(options_windows)" = 1 ]' 5 || fail "$1: the options window did not open"
    swaymsg "[pid=$agent] kill" >/dev/null
    wait_for '[ "$(options_windows)" = 0 ]' 5 || fail "$1: the options window did not close"
}

# A long command submenu (filled only when it opens), an entry that leaves a mark, a voice command.
{
    echo "CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);"
    echo "INSERT INTO KeyCommands VALUES ('Mark', 'Mark', 'touch \"$work/menu mark\"', 'Execute Program', 'Menu Item'),"
    echo "    ('Voice', 'say hello', 'touch \"$work/voice mark\"', 'Execute Program', 'Voice Command');"
    for i in $(seq 300); do echo "INSERT INTO KeyCommands VALUES ('', 'Entry $i', 'x', 'Show Message', 'Menu Item');"; done
} >"$work/commands.sql"
settings_file "$(cat "$work/commands.sql")"

start_bar
start_agent
in_tray
# The icon is drawn at the bar's right end (the bar is black and shows nothing else there).
sleep 1
grim -g "640,0 640x20" "$work/bar.png"
lit=$(convert "$work/bar.png" -colorspace Gray -threshold 20% -format "%[fx:round(mean*w*h)]" info:)
[ "$lit" -gt 50 ] || fail "swaybar draws no icon ($lit lit pixels)"

# A double-click is two clicks on this host: the window opens, once.
"$probe" "$agent" activate && "$probe" "$agent" activate
sleep 0.5
expect_options "a click on the icon"

click "_Agent/_Options"
expect_options "_Agent/_Options"
[ "$(menu _Commands | grep -cv hidden)" = 301 ] || fail "the long Commands submenu did not fill when it opened"
click "_Commands/Mark"
wait_for '[ -e "$work/menu mark" ]' 5 || fail "the menu command did not start its program"
click "_Voice Commands/say hello"
wait_for '[ -e "$work/voice mark" ]' 5 || fail "the voice command did not run from the menu"

menu _Agent | grep -qx "_Start at Login \[ \]" || fail "Start at Login shows checked"
click "_Agent/_Start at Login"
wait_for '[ -f "$login" ]' 3 || fail "Start at Login wrote no autostart entry"
menu _Agent | grep -qx "_Start at Login \[x\]" || fail "Start at Login shows no check mark"
click "_Agent/_Start at Login"
wait_for '[ ! -e "$login" ]' 3 || fail "Start at Login: the autostart entry stayed"

before=$(menu _Agent | grep -o "St[a-z]* _Listening")
click "_Agent/$before"
after=$(menu _Agent | grep -o "St[a-z]* _Listening")
[ "$before" != "$after" ] || fail "the listening switch still reads $before"
click "_Agent/$after"

click "_Agent/_Close Agent"
expect_end "_Agent/_Close Agent"
! "$probe" "$agent" wait 0 2>/dev/null || fail "the icon stayed after the agent ended"

# No tray host: a second start opens the running agent's options; a host that comes later gets the icon.
stop_bar
dbus-monitor "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" >"$work/notify.log" 2>&1 &
pids+=($!)
start_agent late
sleep 2
# What the agent tells before it has an icon goes to the desktop's notification service.
note="Vorlix cannot use the keyboard"
! grep -q "$note" "$work/late.log" || grep -q "$note" "$work/notify.log" || fail "the notification was lost"
first=$agent
start_agent second
wait "$agent" || fail "the second start ended with status $?"
agent=$first
expect_options "a second start with no tray host"
start_bar
in_tray 10 "the icon of an agent started before the host"
"$probe" "$agent" activate
expect_options "a click on an icon that came late"
stop_bar
start_bar
in_tray 10 "the icon after the host restarted"
click "_Agent/_Close Agent"
expect_end "the second run"

# A watcher already there when the agent starts, and its host two seconds later.
stop_bar
"$probe" host 2 & pids+=($!)
wait_for 'gdbus introspect --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher >/dev/null 2>&1' 2 ||
    fail "the test's watcher did not start"
start_agent
in_tray 10 "the icon of an agent started between the watcher and its host"
"$probe" "$agent" activate
expect_options "a click on the icon of a host that came after its watcher"
