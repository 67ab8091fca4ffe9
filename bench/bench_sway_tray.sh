#!/usr/bin/env bash
# Under a StatusNotifierItem tray host (swaybar on headless sway): time from the agent's start to its
# item registered with the watcher, from a click (Activate) to the options window mapped, and from a
# late host's start to the item registered with it. Each run starts a fresh agent.
#   scripts/with-sway.sh --config tests/app/sway_tray.conf bench/bench_sway_tray.sh PATH/TO/vorlix [RUNS]
set -euo pipefail
agent_bin=$1 runs=${2:-5}
[ -n "${SWAYSOCK:-}" ] || { echo "needs a sway session: run under scripts/with-sway.sh" >&2; exit 1; }
work=$(mktemp -d /tmp/vorlix-bench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$agent_bin" "$work/vorlix"
export QT_QPA_PLATFORM=wayland

# The one agent's item, as swaybar names it: "SERVICE/StatusNotifierItem".
item() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null | grep -o "[^']*/StatusNotifierItem"
}
items() { item >/dev/null; }
host() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered 2>/dev/null | grep -q true
}
shown() { swaymsg -t get_tree | grep -q '"name": "Vorlix Options"'; }
now() { date +%s%N; }
ms() { echo $((($2 - $1) / 1000000)); }
summary() { # what, figures...
    local what=$1 sorted
    shift
    sorted=($(printf '%s\n' "$@" | sort -n))
    echo "$what: median ${sorted[$(($# / 2))]} ms, min ${sorted[0]} ms, max ${sorted[$(($# - 1))]} ms over $# runs"
}

register=() open=() late=()
for _ in $(seq "$runs"); do
    swaybar -b tray >/dev/null 2>&1 & bar=$!
    until host; do sleep 0.01; done
    start=$(now)
    "$work/vorlix" >/dev/null 2>&1 & agent=$!
    until items; do :; done
    register+=($(ms "$start" "$(now)"))
    sleep 1
    service=$(item) service=${service%/StatusNotifierItem}
    start=$(now)
    gdbus call --session -d "$service" -o /StatusNotifierItem -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
    until shown; do :; done
    open+=($(ms "$start" "$(now)"))
    kill "$bar" && wait "$bar" 2>/dev/null || true
    sleep 0.5
    start=$(now)
    swaybar -b tray >/dev/null 2>&1 & bar=$!
    until items; do :; done
    late+=($(ms "$start" "$(now)"))
    kill -TERM "$agent" && wait "$agent" || true
    kill "$bar" && wait "$bar" 2>/dev/null || true
done
summary "agent start to item registered" "${register[@]}"
summary "click (Activate) to options window mapped" "${open[@]}"
summary "host start to item registered with it" "${late[@]}"
