#!/usr/bin/env bash
# End to end under headless sway (run by scripts/with-sway.sh with sway_tray.conf): the agent picks the
# compositor's virtual keyboard by itself, and tray menu commands type into a native Wayland window what
# they say, in order: keys and chords, 1,000 characters many of which no key of the layout types, again
# after a switch to the French and German layouts, and a mouse button. The About page names what keys are
# typed through and that held keys cannot be read here.   e2e_sway_keys.sh AGENT TRAYPROBE WAYLANDPROBE
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
[ -n "${SWAYSOCK:-}" ] || { echo "no sway session: run under scripts/with-sway.sh"; exit 77; }
e2e_setup "$1"
probe=$2 witness=$3
export QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME=$work/config

# 1,000 characters: letters, digits and punctuation of the layout, and Greek, Cyrillic and CJK that it lacks.
chars=(a b c d e f g h i j k l m n o p q r s t u v w x y z 0 1 2 3 4 5 6 7 8 9 , . / - = α β γ δ ε ω ж щ ю я 日 本 語 漢 字)
RANDOM=3
long=
for _ in $(seq 1000); do long+="${long:+;}${chars[RANDOM % ${#chars[@]}]}"; done
printf '%s\n' "$long" | tr ';' '\n' >"$work/long.expected"
sqlite3 "$work/settings.zqf" "CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);
    INSERT INTO KeyCommands VALUES ('Hello', 'Hello', 'hello;[shift]a;[f5]', 'Send Key(s)', 'Menu Item'),
        ('Long', 'Long', '$long', 'Send Key(s)', 'Menu Item'),
        ('Click', 'Click', '[rclick]', 'Send Key(s)', 'Menu Item');"

swaybar -b tray >>"$work/bar.log" 2>&1 & pids+=($!)
start_agent
"$probe" "$agent" wait 10 || fail "the icon did not register with the watcher"
sleep 1
grep -q "cannot see held keys: Key watches (hot keys) are off: " "$work/agent.log" ||
    fail "no word that held keys cannot be read: $(cat "$work/agent.log")"
! grep -q "cannot type keys\|cannot use the keyboard" "$work/agent.log" || fail "typing was reported off"

# The witness takes the focus; what the agent types from then on reaches it.
"$witness" >>"$work/witness.out" 2>"$work/witness.log" & witness_pid=$! pids+=($!)
wait_for 'grep -qx ready "$work/witness.out"' 10 || fail "the witness window got no focus"
typed() { # MENU-ENTRY EXPECTED-FILE what
    : >"$work/witness.out" # the witness appends: it writes at the new end
    "$probe" "$agent" click "_Commands/$1" || fail "the menu has no entry $1"
    local want
    want=$(wc -l <"$2")
    wait_for '[ "$(wc -l <"$work/witness.out")" -ge '"$want"' ]' 20 || true
    diff "$2" "$work/witness.out" >"$work/diff.out" || fail "$3: the window got other keys: $(head -8 "$work/diff.out" | tr "\n" " ")"
}
printf '%s\n' h e l l o "[Shift]" A "[F5]" >"$work/hello.expected"
typed Hello "$work/hello.expected" "keys and chords"
typed Long "$work/long.expected" "1,000 characters"
for layout in fr de; do
    swaymsg input type:keyboard xkb_layout $layout >/dev/null
    sleep 0.5
    typed Hello "$work/hello.expected" "keys on the $layout layout"
done
# A character is typed with the key that gives it, without its Shift, as on X11: on the German layout "/" and
# "=" sit on Shift+7 and Shift+0.
sed 's|^/$|7|; s|^=$|0|' "$work/long.expected" >"$work/long-de.expected"
typed Long "$work/long-de.expected" "1,000 characters on the de layout"
echo "button 2" >"$work/click.expected"
typed Click "$work/click.expected" "a right click"

kill -TERM "$agent"
wait "$agent" || fail "the agent ended with status $?"
