#!/usr/bin/env bash
# On an X11 desktop whose tray is a StatusNotifierItem host (KDE Plasma's), found on the session bus at
# the agent's start: the icon is such an item, a click opens the options once and its D-Bus menu runs.
#   e2e_sni_x11.sh AGENT TRAYPROBE
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
probe=$2
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" >"$work/bus.log" 2>&1 & pids+=($!)
wait_for '[ -S "$work/bus" ]' 5 || fail "the session bus did not start"
"$probe" host & pids+=($!)
wait_for 'gdbus introspect --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher >/dev/null 2>&1' 5 ||
    fail "the test's tray host did not start"
start_agent
"$probe" "$agent" wait 10 || fail "the icon did not register with the watcher"
"$probe" "$agent" activate && "$probe" "$agent" activate
wait_for "visible '^Vorlix Options$' $agent" 5 || fail "a click on the icon did not open the options"
[ "$(xdotool search --onlyvisible --pid "$agent" --name '^Vorlix Options$' | wc -l)" = 1 ] ||
    fail "two clicks opened more than one window"
"$probe" "$agent" click "_Agent/_Close Agent" || fail "the menu has no Close Agent"
expect_end "_Agent/_Close Agent"
