# Start-up and tray helpers for the end-to-end scripts, which drive the real agent; source this file.
#   e2e_setup AGENT_BINARY [display] [audio]
# makes $work (removed at exit with every process in $pids), copies the agent there and, for the
# needs named, ends with 77 (skipped) unless tests/support/with-desktop.sh provides them.
e2e_setup() {
    local need
    for need in "${@:2}"; do
        case $need in
        display) [ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run under tests/support/with-desktop.sh"; exit 77; } ;;
        audio) [ -n "${VORLIX_TEST_SPEAKER:-}" ] || { echo "no virtual microphone: run under tests/support/with-desktop.sh"; exit 77; } ;;
        esac
    done
    work=$(mktemp -d /tmp/vorlix-e2e.XXXXXX)
    pids=()
    trap '{ [ -z "${DISPLAY:-}" ] || xdotool keyup y ctrl || true; for p in "${pids[@]}"; do kill -9 "$p" || true; done; } 2>/dev/null
        rm -rf "$work"' EXIT
    cp "$1" "$work/vorlix"
}

fail() { echo "FAIL: $*"; cat "$work"/*.log 2>/dev/null || true; exit 1; }

# Writes the settings file from SQL (its tables and rows).
settings_file() { rm -f "$work"/settings.zqf* && sqlite3 "$work/settings.zqf" "$1"; }

# Starts the agent of DIR (default $work; given its own copy) from another folder, logging to
# NAME.log there; sets agent to its pid.
start_agent() { # [name [dir]]
    local dir=${2:-$work}
    [ -x "$dir/vorlix" ] || cp "$work/vorlix" "$dir/"
    (cd / && exec "$dir/vorlix") >>"$dir/${1:-agent}.log" 2>&1 &
    agent=$!
    pids+=($agent)
}

# Starts the agent and waits for its icon in the tray and for its settings to load (the icon shows
# while they still load; the menu fills once they have).
start_agent_in_tray() { # [name]
    start_agent "$@"
    wait_tray_icon || fail "${1:-agent}: the tray icon never appeared"
    sleep 1
}

# Starts trayer, the XEmbed tray host, at the top right of the screen.
start_trayer() {
    trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
    pids+=($!)
}

# Prints "WINDOW LEFT TOP SIZE" of each agent's tray icon (its small window in the tray), one a
# line. The agents' hidden main windows are the large ones with the same class.
tray_icons() {
    xwininfo -root -tree 2>/dev/null | awk '/\("vorlix" "Vorlix"\)/ { split($(NF-1), s, "x");
        if (s[1] + 0 <= 64) { split($NF, a, "+"); print $1, a[2], a[3], s[1] } }'
}

# Prints "LEFT TOP SIZE" of the first icon, nothing while there is none.
tray_icon_geometry() { tray_icons | awk 'NR == 1 { print $2, $3, $4 }'; }

# Waits up to SECONDS (default 10) until COUNT (default 1) icons sit still in the tray; sets
# icon_x and icon_y to the centre of the first and icon_window to its window. An icon shows at the
# screen's corner before the tray host takes it in and moves it.
wait_tray_icon() {
    local icons previous= window left top size
    for _ in $(seq $((${1:-10} * 10))); do
        icons=$(tray_icons)
        if [ "$(grep -c . <<<"$icons")" = "${2:-1}" ] && [ "$icons" = "$previous" ] && ! grep -q ' 0 0 ' <<<"$icons"; then
            read -r window left top size <<<"$icons"
            icon_window=$window icon_x=$((left + size / 2)) icon_y=$((top + size / 2))
            return 0
        fi
        previous=$icons
        sleep 0.1
    done
    return 1
}

# Opens the tray menu and types the given keys (mnemonics) into it.
tray_menu() {
    xdotool mousemove "$icon_x" "$icon_y" click 3
    sleep 0.4
    xdotool key "$@"
    sleep 0.3
}

# Waits up to SECONDS for the agent to end by itself, then for its status, which must be 0.
expect_end() { # what, [seconds]
    for _ in $(seq $((${2:-10} * 10))); do kill -0 "$agent" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$agent" 2>/dev/null && fail "$1: the agent did not end"
    local status=0
    wait "$agent" || status=$?
    [ "$status" = 0 ] || fail "$1: the agent ended with status $status"
}
