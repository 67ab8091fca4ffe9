#!/usr/bin/env bash
# Process start to tray icon shown, for the real agent under a tray host (target: under 200 ms).
#   bench_startup.sh PATH/TO/vorlix [RUNS]     (run under scripts/with-desktop.sh)
set -euo pipefail
source "$(dirname "$0")/../tests/support/e2e.sh"
agent_bin=$1
runs=${2:-7}
[ -n "${DISPLAY:-}" ] || { echo "needs a display: run under scripts/with-desktop.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/vorlix-bench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$agent_bin" "$work/vorlix"
start_trayer
sleep 0.5
docked() { [ -n "$(tray_icon_geometry)" ]; }

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
echo "start-up to tray icon: median ${sorted[$((runs / 2))]} ms, min ${sorted[0]} ms, max ${sorted[$((runs - 1))]} ms over $runs runs; target < 200 ms"
