#!/usr/bin/env bash
# End to end without a display, so with the null keyboard: the agent comes up, says once why keys are off,
# ticks its key watch typing nothing, and ends in order on SIGTERM with its commands kept.
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=offscreen
e2e_setup "$1"
settings_file "CREATE TABLE KeyCommands (Name TEXT, ActionType TEXT, Watch TEXT, Type TEXT, Value TEXT);
INSERT INTO KeyCommands VALUES ('Type', 'Key Watch', '[ctrl]y', 'Send Key(s)', 'abc');"
start_agent
wait_for 'grep -q "cannot use the keyboard" "$work/agent.log"' 20
sleep 0.5 # a few ticks of the key watch
kill -TERM "$agent"
expect_end SIGTERM
reports=$(grep -c "cannot use the keyboard: Key watches and typed keys are off: ." "$work/agent.log" || true)
[ "$reports" = 1 ] || fail "the missing keyboard was reported $reports times"
expect_sql "SELECT Watch FROM KeyCommands" "[ctrl]y"
echo "PASS: without a keyboard the agent ran, reported it once and ended in order"
