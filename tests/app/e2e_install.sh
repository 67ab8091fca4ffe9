#!/usr/bin/env bash
# The installed program: `cmake --install` into a temporary prefix puts the program, its launcher,
# icon and documents in place, and the installed agent, started in a fresh home, keeps its settings
# in ~/.config/vorlix/ (a folder for the user alone), not beside itself. Then the Debian package of
# the same build: its files and its dependencies.
#   e2e_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/vorlix-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -e "$work/agent.log" ] && cat "$work/agent.log"; exit 1; }
installed=(bin/vorlix share/applications/vorlix.desktop share/icons/hicolor/scalable/apps/vorlix.svg
    share/doc/vorlix/README.md)

cmake --install "$build" --prefix "$work/usr" >/dev/null
for file in "${installed[@]}"; do [ -f "$work/usr/$file" ] || fail "$file is not installed"; done
desktop-file-validate "$work/usr/share/applications/vorlix.desktop" || fail "the launcher is not a valid desktop entry"

mkdir "$work/home"
HOME="$work/home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=offscreen env -u DISPLAY "$work/usr/bin/vorlix" >"$work/agent.log" 2>&1 &
agent=$!
settings="$work/home/.config/vorlix/settings.zqf"
for _ in $(seq 100); do [ -s "$settings" ] && break; sleep 0.1; done
kill -TERM "$agent"
wait "$agent" || fail "the installed agent ended with status $?"
[ -s "$settings" ] || fail "no settings file in ~/.config/vorlix/"
[ "$(stat -c %a "$work/home/.config/vorlix")" = 700 ] || fail "~/.config/vorlix/ is open to others"
[ ! -e "$work/usr/bin/settings.zqf" ] || fail "the installed agent wrote its settings beside itself"
[ "$(sqlite3 "$settings" "SELECT count(*) FROM Settings")" = 1 ] || fail "the settings were not saved"
echo "installed agent keeps its settings in ~/.config/vorlix/"

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/package/vorlix_*.deb)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=$(printf './usr/%s\n' "${installed[@]}" share/doc/vorlix/options-pages.md share/doc/vorlix/speech.md | sort)
[ "$files" = "$expected" ] || fail "the package holds $(echo $files)"
depends=$(dpkg-deb -f "$deb" Depends)
for package in pocketsphinx-en-us espeak-ng-data libespeak-ng1 libpocketsphinx3 libqt6widgets6 libsqlite3-0; do
    grep -q "\b$package\b" <<<"$depends" || fail "the package does not depend on $package: $depends"
done
echo "PASS: $(basename "$deb"): $(wc -l <<<"$files") files; depends on $depends"
