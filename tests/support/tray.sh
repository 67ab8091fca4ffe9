# Shell helpers for driving the real agent under a test desktop; source this file.

# Starts trayer, the XEmbed tray host, at the top right of the screen.
start_trayer() {
    trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
    tray_host=$!
}

# Prints "LEFT TOP SIZE" of the agent's tray icon (its small window docked in the tray), nothing
# while there is none. The agent's hidden main window is the large one with the same class.
tray_icon_geometry() {
    xwininfo -root -tree 2>/dev/null | awk '/\("vorlix" "Vorlix"\)/ { split($(NF-1), s, "x");
        if (s[1] + 0 <= 64 && !found) { split($NF, a, "+"); found = a[2] " " a[3] " " s[1] } }
        END { print found }'
}

# Waits up to SECONDS (default 10) for the icon; sets icon_x and icon_y to its centre.
wait_tray_icon() {
    local geometry left top size
    for _ in $(seq $((${1:-10} * 20))); do
        geometry=$(tray_icon_geometry)
        if [ -n "$geometry" ]; then
            read -r left top size <<<"$geometry"
            icon_x=$((left + size / 2)) icon_y=$((top + size / 2))
            return 0
        fi
        sleep 0.05
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
