#!/usr/bin/env bash
# Whether a command said one second after the tray icon appears is heard, and how long after the icon
# it ran (the recogniser is built after the icon; what the microphone heard meanwhile is kept for it).
#   bench_first_phrase.sh PATH/TO/vorlix [RUNS]     (run under scripts/with-desktop.sh)
set -euo pipefail
source "$(dirname "$0")/../tests/support/e2e.sh"
e2e_setup "$1" display audio
runs=${2:-5}
settings_file "CREATE TABLE Settings (StartupText TEXT, DeviceName TEXT, ListenCommand TEXT, ListenTime INTEGER, Response TEXT,
    ResponseListen BOOLEAN, ResponseCommand BOOLEAN);
INSERT INTO Settings VALUES ('', '(default)', '', 4, '', 0, 0);
CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT);
INSERT INTO KeyCommands VALUES ('Mail', 'open mail', 'touch $work/mail', 'Execute Program', 'Voice Command');"
espeak-ng -v en-us -s 160 -w "$work/open-mail.wav" "open mail"
start_trayer
sleep 0.5
heard=0 delays=()
for _ in $(seq "$runs"); do
    rm -f "$work/mail"
    start_agent
    wait_for '[ -n "$(tray_icon_geometry)" ]' 10 || fail "the tray icon never appeared"
    icon=$(date +%s%N)
    sleep 1
    paplay --device="$VORLIX_TEST_SPEAKER" "$work/open-mail.wav"
    if wait_for '[ -e "$work/mail" ]' 5; then
        heard=$((heard + 1)) delays+=($((($(stat -c %.9Y "$work/mail" | tr -d .) - icon) / 1000000)))
    fi
    expect_end "run $heard" TERM
    wait_for '[ -z "$(tray_icon_geometry)" ]' 5 || true
done
sorted=($(printf '%s\n' "${delays[@]:-}" | sort -n))
echo "said 1 s after the icon: heard $heard of $runs; command ran ${sorted[*]:-never} ms after the icon appeared"
