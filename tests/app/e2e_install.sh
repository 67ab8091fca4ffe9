#!/usr/bin/env bash
# `cmake --install` puts program, launcher, icon and documents in place; the Debian package holds those files
# and dependencies. The installed agent keeps its settings in ~/.config/vorlix/ (the user's alone); without a
# display it runs on the null keyboard: says once why keys are off, ticks a key watch typing nothing, ends in order.
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1"
installed=(bin/vorlix share/applications/vorlix.desktop share/icons/hicolor/scalable/apps/vorlix.svg
    share/doc/vorlix/README.md lib/udev/rules.d/70-vorlix-uinput.rules)
cmake --install "$1" --prefix "$work/usr" >/dev/null
for file in "${installed[@]}"; do [ -f "$work/usr/$file" ] || fail "$file is not installed"; done
desktop-file-validate "$work/usr/share/applications/vorlix.desktop" || fail "the launcher is not a valid desktop entry"

config=$work/home/.config/vorlix
installed_agent() { # what
    HOME="$work/home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=offscreen env -u DISPLAY "$work/usr/bin/vorlix" >"$work/agent.log" 2>&1 & agent=$!
    wait_for 'grep -q "cannot use the keyboard" "$work/agent.log"' 20 && sleep 0.5 || fail "$1: no word of the keyboard"
    expect_end "$1" TERM
    [ "$(grep -c "cannot use the keyboard: Key watches and typed keys are off. Typing: .*Held keys: " "$work/agent.log")" = 1 ] ||
        fail "$1: the missing keyboard was not reported once"
}
mkdir "$work/home"
installed_agent "first start"
[ -s "$config/settings.zqf" ] || fail "no settings file in ~/.config/vorlix/"
[ "$(stat -c %a "$config")" = 700 ] || fail "~/.config/vorlix/ is open to others"
[ ! -e "$work/usr/bin/settings.zqf" ] || fail "the installed agent wrote its settings beside itself"
work=$config expect_sql "SELECT count(*) FROM Settings" 1
sqlite3 "$config/settings.zqf" "INSERT INTO KeyCommands (Name, ActionType, Watch, Type, Value)
    VALUES ('Type', 'Key Watch', '[ctrl]y', 'Send Key(s)', 'abc')"
installed_agent "with a key watch"
work=$config expect_sql "SELECT Watch FROM KeyCommands" "[ctrl]y"

cpack --config "$1/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 || fail "cpack failed"
deb=$(ls "$work"/package/vorlix_*.deb)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=$(printf './usr/%s\n' "${installed[@]}" share/doc/vorlix/options-pages.md share/doc/vorlix/speech.md | sort)
[ "$files" = "$expected" ] || fail "the package holds $(echo $files)"
depends=$(dpkg-deb -f "$deb" Depends)
for package in pocketsphinx-en-us espeak-ng-data libespeak-ng1 libpocketsphinx3 libqt6widgets6 libsqlite3-0; do
    grep -q "\b$package\b" <<<"$depends" || fail "the package does not depend on $package: $depends"
done
