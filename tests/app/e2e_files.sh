#!/usr/bin/env bash
# End to end, with the real agent under a tray host: a start and stop without an edit leaves the texts of the
# settings file as written; a program folder whose name is not UTF-8 is refused, never replaced by another;
# Start at Login reads an entry switched off by the session as off, and switching it keeps the user's keys.
#   e2e_files.sh AGENT INSTALLED_AGENT
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
start_trayer
export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/system
login=$XDG_CONFIG_HOME/autostart/vorlix.desktop

# Blanks around the texts, put there by hand: the options pages show them trimmed, and that is no edit.
start_agent_in_tray new && expect_end "new file" TERM
sqlite3 "$work/settings.zqf" "UPDATE Settings SET StartupText = '  Hello  ', Response = 'Done ', ListenCommand = ' Vorlix'"
texts="SELECT quote(StartupText) || quote(Response) || quote(ListenCommand) FROM Settings"
start_agent_in_tray unedited && expect_end unedited TERM
expect_sql "$texts" "'  Hello  ''Done '' Vorlix'"

# An entry switched off by the session's tools, with a key of the user's: the menu shows it off, so
# choosing it switches it on (not off, as a check mark would), and the user's key stays.
mkdir -p "$(dirname "$login")"
for off in "Hidden=true" "X-GNOME-Autostart-enabled=false"; do
    printf '[Desktop Entry]\nType=Application\nName=Vorlix\nExec=/old/vorlix\n%s\nX-User-Key=mine\n' "$off" >"$login"
    start_agent_in_tray "$off"
    tray_menu a s # "&Agent", "&Start at Login"
    wait_for 'grep -qx "Exec=\"$work/vorlix\"" "$login"' 3 || fail "$off: not switched on: $(cat "$login" 2>&1)"
    ! grep -qx "$off" "$login" && grep -qx "X-User-Key=mine" "$login" || fail "$off: $(cat "$login")"
    desktop-file-validate "$login" || fail "$off: the entry is not valid"
    tray_menu a s
    wait_for 'grep -qx "Hidden=true" "$login"' 3 && grep -qx "X-User-Key=mine" "$login" ||
        fail "$off: switched off, the user's entry should stay, switched off: $(cat "$login" 2>&1)"
    expect_end "$off" TERM
done

# A folder named with a byte that is no UTF-8. The agent keeping its settings beside itself refuses to
# start, saying why; the installed one starts, and refuses Start at Login.
odd=$work/$'caf\xe9'
mkdir "$odd"
root_file_before=$([ -e /settings.zqf ] && echo yes || echo no)
cp "$work/vorlix" "$odd/vorlix"
(cd / && exec "$odd/vorlix") >"$work/odd.log" 2>&1 & agent=$! pids+=($!)
wait_for "visible '^Vorlix$' $agent" 20 || fail "no word that the folder cannot be used"
grep -q "is not valid UTF-8" "$work/odd.log" || fail "the reason is not given: $(cat "$work/odd.log")"
xdotool windowactivate --sync "$win" key --clearmodifiers Return
wait_for '! kill -0 "$agent" 2>/dev/null' || fail "the refusing agent did not end"
wait "$agent" && fail "the refusing agent ended with status 0" || true
[ -z "$(ls -A "$odd" | grep -v '^vorlix$')" ] || fail "files were made in the folder: $(ls -A "$odd")"
[ "$root_file_before" = yes ] || [ ! -e /settings.zqf ] || fail "the settings went to /settings.zqf"

cp "$2" "$odd/vorlix"
rm -f "$login"
(cd / && exec "$odd/vorlix") >"$work/installed.log" 2>&1 & agent=$! pids+=($!)
wait_tray_icon 20 && sleep 1 || fail "the installed agent did not start from the folder"
tray_menu a s
wait_for "visible '^Vorlix$' $agent" 5 || fail "Start at Login did not say why it cannot be switched on"
[ ! -e "$login" ] || fail "an entry was written: $(cat "$login")"
xdotool windowactivate --sync "$win" key --clearmodifiers Return
expect_end installed TERM
echo "e2e_files: passed"
