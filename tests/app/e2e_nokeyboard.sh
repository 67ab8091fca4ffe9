#!/usr/bin/env bash
# End to end: the real agent where no desktop offers a keyboard (no X display). It comes up, says
# once why hot keys and typed keys are off, runs its key watch against the null keyboard without
# typing or crashing, and ends in order on SIGTERM with its commands kept.
#   e2e_nokeyboard.sh PATH/TO/vorlix
set -euo pipefail
agent_bin=$1
work=$(mktemp -d /tmp/vorlix-e2e.XXXXXX)
trap 'kill "$agent" 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$agent_bin" "$work/vorlix"
sqlite3 "$work/settings.zqf" "
CREATE TABLE KeyCommands (Name TEXT, ActionType TEXT, Watch TEXT, Type TEXT, Value TEXT);
INSERT INTO KeyCommands VALUES ('Type', 'Key Watch', '[ctrl]y', 'Send Key(s)', 'abc');"

env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$work/vorlix" >"$work/agent.log" 2>&1 &
agent=$!
# The report comes once the agent is up; give its key-watch timer a few ticks after that.
for _ in $(seq 200); do grep -q "cannot use the keyboard" "$work/agent.log" && break; sleep 0.1; done
sleep 0.5
kill -TERM "$agent"
wait "$agent" && status=0 || status=$?
cat "$work/agent.log"
[ "$status" = 0 ] || { echo "FAIL: the agent ended with status $status"; exit 1; }
reports=$(grep -c "cannot use the keyboard: Key watches and typed keys are off: ." "$work/agent.log" || true)
[ "$reports" = 1 ] || { echo "FAIL: the missing keyboard was reported $reports times"; exit 1; }
[ "$(sqlite3 "$work/settings.zqf" "SELECT Watch FROM KeyCommands")" = "[ctrl]y" ] ||
    { echo "FAIL: the command was lost"; exit 1; }
echo "PASS: without a keyboard the agent ran, reported it once and ended in order"
