# Helpers for the end-to-end scripts. e2e_setup AGENT_BINARY [display] [audio] makes $work (removed at exit
# with every process in $pids, after each command in $cleanups has run), copies the agent there and skips
# (77) without the display or audio named.
e2e_setup() {
    [[ " ${*:2} " != *" display "* || -n "${DISPLAY:-}" ]] || { echo "no DISPLAY: run under with-desktop.sh"; exit 77; }
    [[ " ${*:2} " != *" audio "* || -n "${VORLIX_TEST_SPEAKER:-}" ]] || { echo "no microphone: run under with-desktop.sh"; exit 77; }
    work=$(mktemp -d /tmp/vorlix-e2e.XXXXXX) pids=() cleanups=()
    trap '{ [ -z "${DISPLAY:-}" ] || xdotool keyup y ctrl || true; for p in "${pids[@]}"; do kill -9 "$p" || true; done
        for c in "${cleanups[@]}"; do $c || true; done; } 2>/dev/null
        rm -rf "$work"' EXIT
    [ ! -f "$1" ] || cp "$1" "$work/vorlix"
}

fail() { echo "FAIL: $*"; cat "$work"/*.log 2>/dev/null || true; exit 1; }

# Waits up to SECONDS (default 10) until the shell CONDITION holds.
wait_for() { for _ in $(seq $((${2:-10} * 10))); do eval "$1" && return 0; sleep 0.1; done; return 1; }

# Writes the settings file from SQL; expect_sql SQL EXPECTED fails unless the file answers so.
settings_file() { rm -f "$work"/settings.zqf* && sqlite3 "$work/settings.zqf" "$1"; }
expect_sql() { local got; got=$(sqlite3 "$work/settings.zqf" "$1"); [ "$got" = "$2" ] || fail "$1 gives: $got"; }

# Starts the agent of DIR (default $work; given its own copy) from /, logging to DIR/NAME.log; sets agent.
start_agent() { # [name [dir]]
    local dir=${2:-$work}
    [ -x "$dir/vorlix" ] || cp "$work/vorlix" "$dir/"
    (cd / && exec "$dir/vorlix") >>"$dir/${1:-agent}.log" 2>&1 & agent=$! pids+=($!)
}

# Waits until the agent has settled: the recogniser is built after the icon appears, holding the
# agent for a few hundred milliseconds (seconds under the sanitisers), and clicks meanwhile come late.
wait_settled() { # [seconds]
    local before after
    before=$(awk '{ print $14 + $15 }' "/proc/$agent/stat" 2>/dev/null) || return 0
    for _ in $(seq $((${1:-30} * 4))); do
        sleep 0.25
        after=$(awk '{ print $14 + $15 }' "/proc/$agent/stat" 2>/dev/null) || return 0
        [ $((after - before)) -gt 2 ] || return 0 # under 10% of a core
        before=$after
    done
}

# Starts the agent, then waits for its tray icon and its settings (the menu fills once they are loaded).
start_agent_in_tray() {
    start_agent "$@" && wait_tray_icon && sleep 1 || fail "${1:-agent}: the tray icon never appeared"
    wait_settled
}

start_trayer() { trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 & pids+=($!); }

# Prints "WINDOW LEFT TOP SIZE" of each agent's tray icon, one a line (the agents' hidden main
# windows are the large ones of the same class); tray_icon_geometry the "LEFT TOP SIZE" of the first.
tray_icons() {
    xwininfo -root -tree 2>/dev/null | awk '/\("vorlix" "Vorlix"\)/ { split($(NF-1), s, "x");
        if (s[1] + 0 <= 64) { split($NF, a, "+"); print $1, a[2], a[3], s[1] } }'
}
tray_icon_geometry() { tray_icons | awk 'NR == 1 { print $2, $3, $4 }'; }

# Waits up to SECONDS (default 10) until COUNT (default 1) icons sit still in the tray (an icon shows
# at the screen's corner before the tray host takes it in); sets icon_x and icon_y to the first's centre.
wait_tray_icon() {
    local icons previous= count=${2:-1} window left top size
    wait_for 'icons=$(tray_icons); [ "$icons" = "$previous" ] && [ "$(grep -c . <<<"$icons")" = "$count" ] &&
        ! grep -q " 0 0 " <<<"$icons" || { previous=$icons && false; }' "${1:-10}" || return 1
    read -r window left top size <<<"$icons"
    icon_x=$((left + size / 2)) icon_y=$((top + size / 2))
}

# Opens the tray menu and types the given keys (mnemonics) into it.
tray_menu() { xdotool mousemove "$icon_x" "$icon_y" click 3 sleep 0.4 key "$@" sleep 0.3; }

# Whether a window of that title (of the agent PID, if given) shows, larger than a tray icon; sets win.
# A window found may be gone by the time it is measured (a menu or a tip closing): that one does not count.
visible() { # title [pid]
    local geometry
    for win in $(xdotool search --onlyvisible ${2:+--pid "$2"} --name "$1" 2>/dev/null); do
        geometry=$(xdotool getwindowgeometry --shell "$win" 2>/dev/null) || continue
        WIDTH=0 && eval "$geometry"
        [ "${WIDTH:-0}" -gt 64 ] && return 0
    done
    return 1
}

# Sends the agent SIGNAL (if one is named) and waits up to 10 s for it to end, with status 0.
expect_end() { # what [signal]
    [ -z "${2:-}" ] || kill -s "$2" "$agent"
    wait_for '! kill -0 "$agent" 2>/dev/null' || fail "$1: the agent did not end"
    wait "$agent" || fail "$1: the agent ended with status $?"
}
