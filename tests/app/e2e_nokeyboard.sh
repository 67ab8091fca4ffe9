#!/usr/bin/env bash
# End to end: the real agent where no desktop offers a keyboard (no X display). It comes up, says
# once why hot keys and typed keys are off, runs its key watch against the null keyboard without
# typing or crashing, and ends in order on SIGTERM with its commands kept.
#   e2e_nokeyboard.sh PATH/TO/vorlix
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=offscreen
e2e_setup "$1"
settings_file "
CREATE TABLE KeyCommands (Name TEXT, ActionType TEXT, Watch TEXT, Type TEXT, Value TEXT);
INSERT INTO KeyCommands VALUES ('Type', 'Key Watch', '[ctrl]y', 'Send Key(s)', 'abc');"
start_agent
# The report comes once the agent is up; give its key-watch timer a few ticks after that.
for _ in $(seq 200); do grep -q "cannot use the keyboard" "$work/agent.log" && break; sleep 0.1; done
sleep 0.5
kill -TERM "$agent"
expect_end SIGTERM
reports=$(grep -c "cannot use the keyboard: Key watches and typed keys are off: ." "$work/agent.log" || true)
[ "$reports" = 1 ] || fail "the missing keyboard was reported $reports times"
[ "$(sqlite3 "$work/settings.zqf" "SELECT Watch FROM KeyCommands")" = "[ctrl]y" ] || fail "the command was lost"
echo "PASS: without a keyboard the agent ran, reported it once and ended in order"
