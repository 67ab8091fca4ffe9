# Shell helpers for driving the real agent under a test desktop; source this file.

# Starts trayer, the XEmbed tray host, at the top right of the screen.
start_trayer() {
    trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
    tray_host=$!
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
