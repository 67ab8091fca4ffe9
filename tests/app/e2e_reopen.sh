#!/usr/bin/env bash
# Under a window manager, the options window closed with its close box or minimised opens again every
# time it is asked for, by a second start or by a double-click on the tray icon.
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || fail "no window manager runs on $DISPLAY"
start_trayer
export XDG_CONFIG_HOME=$work/config
start_agent_in_tray first
read -r _ icon_left icon_top icon_size <<<"$(tray_icons | head -1)"
lost=()
for try in $(seq "${2:-8}"); do
    for how in close minimise; do
        if [ $((try % 2)) = 1 ]; then
            timeout 20 "$work/vorlix" >>"$work/second.log" 2>&1 || fail "try $try: the second start did not hand over"
        else
            xdotool mousemove $((icon_left + icon_size / 2)) $((icon_top + icon_size / 2)) click --repeat 2 --delay 80 1
        fi
        wait_for "visible '^Vorlix Options$'" 5 || { lost+=("$try/$how"); continue; }
        sleep 0.2
        if [ $how = close ]; then wmctrl -c 'Vorlix Options'
        else xdotool search --onlyvisible --name '^Vorlix Options$' windowminimize; fi
        wait_for "! visible '^Vorlix Options$'" 5 || fail "try $try: $how left the window open"
    done
done
[ ${#lost[@]} = 0 ] || fail "the window did not open again after ${lost[*]}"
expect_end first TERM
