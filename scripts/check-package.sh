#!/usr/bin/env bash
# Builds the Debian package from build/, installs it with apt, runs the installed agent once in a
# fresh home (it must keep its settings in ~/.config/vorlix/) and removes the package again,
# checking that nothing of it stays behind. Needs root or sudo; changes the machine's packages.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
work=$(mktemp -d /tmp/vorlix-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

(cd build && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/vorlix_*.deb)
chmod 755 "$work"   # apt's sandbox user reads the package from here
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "$deb" >/dev/null
dpkg-query -W -f='${Status}\n' vorlix | grep -q 'install ok installed'
[ -f /usr/lib/udev/rules.d/70-vorlix-uinput.rules ] || { echo "FAIL: no udev rule for /dev/uinput"; exit 1; }

mkdir "$work/home"
HOME="$work/home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=offscreen env -u DISPLAY vorlix >"$work/agent.log" 2>&1 &
agent=$!
for _ in $(seq 100); do [ -s "$work/home/.config/vorlix/settings.zqf" ] && break; sleep 0.1; done
kill -TERM "$agent"
wait "$agent" || { cat "$work/agent.log"; echo "FAIL: the installed agent ended with status $?"; exit 1; }
[ -s "$work/home/.config/vorlix/settings.zqf" ] || { cat "$work/agent.log"; echo "FAIL: no settings in ~/.config/vorlix/"; exit 1; }

files=$(dpkg -L vorlix | grep -v '^/\.$')
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get purge -y -qq vorlix >/dev/null
left=$(for f in $files; do [ -f "$f" ] && echo "$f"; done || true)
[ -z "$left" ] || { echo "FAIL: left behind: $left"; exit 1; }
! dpkg-query -W -f='${Status}\n' vorlix 2>/dev/null | grep -q installed || { echo "FAIL: vorlix is still installed"; exit 1; }
echo "PASS: $(basename "$deb") installed, ran and was removed"
