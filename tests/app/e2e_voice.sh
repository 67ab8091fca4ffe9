#!/usr/bin/env bash
# End to end through PulseAudio: saying the listen phrase "computer" opens the listening window (the agent's
# answer goes into the same microphone) and "open mail" then runs its command; outside it, nothing runs.
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display audio
settings_file "CREATE TABLE Settings (StartupText TEXT, DeviceName TEXT, ListenCommand TEXT, ListenTime INTEGER, Response TEXT,
    ResponseListen BOOLEAN, ResponseCommand BOOLEAN);
INSERT INTO Settings VALUES ('Hello', '(default)', 'computer', 4, 'Command Understood', 1, 1);
CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);
INSERT INTO KeyCommands VALUES ('Mail', 'open mail', 'touch $work/mail', 'Execute Program', 'Voice Command');"
for phrase in computer "open mail"; do espeak-ng -v en-us -s 160 -w "$work/${phrase// /-}.wav" "$phrase"; done
say() { paplay --device="$VORLIX_TEST_SPEAKER" "$work/${1// /-}.wav"; }

start_trayer
start_agent_in_tray
sleep 4 # the greeting goes into the microphone too
# Like a person, say it again when not understood (no one utterance is recognised for certain).
for _ in 1 2 3 4; do
    say computer
    sleep 2.5 # the answer must not act
    [ ! -e "$work/mail" ] || fail "the agent acted on its own voice"
    say "open mail"
    wait_for '[ -e "$work/mail" ]' 3 && break
    sleep 3 # an open window closes after ListenTime
done
[ -e "$work/mail" ] || fail "'open mail' did not run its command"
rm "$work/mail" && sleep 3
for _ in 1 2; do say "open mail" && sleep 2; done
[ ! -e "$work/mail" ] || fail "'open mail' ran outside the listening window"
expect_end SIGTERM TERM
