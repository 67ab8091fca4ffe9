#!/usr/bin/env bash
# End to end under a window manager: the first double-click on a freshly started agent's tray icon
# opens its options window, every time. Agents start in batches that share the tray, and each icon
# gets one double-click.
#   e2e_doubleclick.sh PATH/TO/vorlix [TRIES]   (30 tries miss a 1-in-10 loss 4 % of the time)
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
tries=${2:-30}
batch=10
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || fail "no window manager runs on $DISPLAY"

start_trayer
opened=0 done_tries=0 lost=()
while [ $done_tries -lt "$tries" ]; do
    count=$((tries - done_tries < batch ? tries - done_tries : batch))
    agents=()
    for i in $(seq "$count"); do
        mkdir -p "$work/$i" && rm -f "$work/$i/settings.zqf"
        start_agent agent "$work/$i"
        agents+=($agent)
    done
    wait_tray_icon 20 "$count" || { tray_icons; fail "$count tray icons did not settle"; }
    while read -r window left top size; do
        agent=$(xdotool getwindowpid "$window")
        # A hidden window marked to start iconic is mapped so by a window manager that reads the
        # mark before Qt clears it, and the agent then sends it back to the tray: a race that the
        # clicks below lose only now and then.
        for win in $(xdotool search --pid "$agent" --name '^Vorlix Options$' 2>/dev/null); do
            if xprop -id "$win" WM_HINTS | grep -q 'Iconic'; then fail "the hidden options window is marked iconic"; fi
        done
        xdotool mousemove $((left + size / 2)) $((top + size / 2)) click --repeat 2 --delay 80 1
        shown=
        for _ in $(seq 30); do
            xdotool search --onlyvisible --pid "$agent" --name '^Vorlix Options$' >/dev/null 2>&1 && shown=1 && break
            sleep 0.1
        done
        done_tries=$((done_tries + 1))
        if [ -n "$shown" ]; then opened=$((opened + 1)); else lost+=("$done_tries"); fi
    done <<<"$(tray_icons)"
    { for p in "${agents[@]}"; do kill -9 "$p" && wait "$p" || true; done; } 2>/dev/null
    for _ in $(seq 50); do [ -z "$(tray_icons)" ] && break; sleep 0.1; done
done
echo "first double-clicks that opened the options window: $opened of $tries"
[ ${#lost[@]} = 0 ] || fail "lost on tries ${lost[*]}"
echo "PASS"
