#!/usr/bin/env bash
# Process start to tray icon shown, for the real agent under a tray host (target: under 300 ms).
#   bench_startup.sh PATH/TO/vorlix [RUNS]     (run under tests/support/with-desktop.sh)
set -euo pipefail
agent_bin=$1
runs=${2:-7}
[ -n "${DISPLAY:-}" ] || { echo "needs a display: run under tests/support/with-desktop.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/vorlix-bench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$agent_bin" "$work/vorlix"
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
sleep 0.5

# Docked: a small window of the agent's (the icon), not its hidden 640x480 main window.
docked() {
    xwininfo -root -tree 2>/dev/null |
        awk '/\("vorlix" "Vorlix"\)/ { split($(NF-1), s, "x"); if (s[1] + 0 <= 64) found = 1 } END { exit !found }'
}

times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$work/vorlix" >/dev/null 2>&1 &
    pid=$!
    until docked; do sleep 0.002; done
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
    kill -TERM "$pid"
    wait "$pid" || true
    while docked; do sleep 0.01; done
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "start-up to tray icon: median ${sorted[$((runs / 2))]} ms, min ${sorted[0]} ms, max ${sorted[$((runs - 1))]} ms over $runs runs; target < 300 ms"
