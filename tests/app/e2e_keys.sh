#!/usr/bin/env bash
# End to end: the real agent with a stored "Key Watch" command on "[ctrl]y" whose action is
# "Send Key(s)". Holding Ctrl+Y (through XTest) makes it type into the focused window of another process.
#   e2e_keys.sh PATH/TO/vorlix PATH/TO/vorlix_keyprobe
set -euo pipefail
agent_bin=$1
probe_bin=$2
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run under tests/support/with-desktop.sh"; exit 77; }

work=$(mktemp -d /tmp/vorlix-e2e.XXXXXX)
pids=()
trap 'xdotool keyup y ctrl 2>/dev/null || true; for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
cp "$agent_bin" "$work/vorlix"
sqlite3 "$work/settings.zqf" "
CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);
INSERT INTO KeyCommands VALUES ('Greet', '[ctrl]y', 'ok;[shift]1', 'Send Key(s)', 'Key Watch');"

"$work/vorlix" >"$work/agent.log" 2>&1 &
agent=$!
pids+=($agent)
"$probe_bin" >"$work/probe.txt" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/probe.txt" 2>/dev/null && break; sleep 0.05; done
grep -q ready "$work/probe.txt" || { echo "FAIL: the probe window did not get the focus"; exit 1; }
# Give the agent time to load; its first ticks start once it is up.
sleep 1

# Ctrl alone fires nothing.
xdotool keydown ctrl; sleep 0.35; xdotool keyup ctrl
sleep 0.2
if grep -qx o "$work/probe.txt"; then echo "FAIL: Ctrl alone fired the command"; exit 1; fi

xdotool keydown ctrl y; sleep 0.35; xdotool keyup y ctrl
sleep 0.3
typed=$(grep -vx -e ready -e Control_L -e y "$work/probe.txt" | tr '\n' ' ')
echo "the window received: $typed"
case "$typed" in
    "o k Shift_L exclam "*) ;;
    *) echo "FAIL: expected 'o k Shift_L exclam' at every tick"; exit 1 ;;
esac
fired=$(grep -cx exclam "$work/probe.txt")
[ "$fired" -ge 2 ] || { echo "FAIL: a held combination fires at every tick, got $fired"; exit 1; }

kill -TERM "$agent"
wait "$agent" || { echo "FAIL: the agent did not end cleanly"; cat "$work/agent.log"; exit 1; }
echo "PASS: holding Ctrl+Y typed the command's keys $fired times"
