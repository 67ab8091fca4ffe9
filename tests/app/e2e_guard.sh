#!/usr/bin/env bash
# End to end, on real sockets: one agent per settings file holds against hundreds of silent connections
# (the agent short of descriptors), a request with no end and, where the test runs as root, a second real
# user who takes the agent's name first; a settings file or folder that an access list lets that user
# write is refused as its owner's agent sees it, and that agent still ends with status 0.
set -euo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_setup "$1" display
cp "$2" "$work/guardprobe"
start_trayer
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$agent/status"; }
# A start with the same file hands over: the running agent opens its options (and keeps them open:
# later hand-overs raise them), and the start ends with 0.
hands_over() { # what [user]
    timeout 20 ${2:+setpriv --reuid="$2" --regid="$2" --init-groups} "$dir/vorlix" >"$work/$1.log" 2>&1 ||
        fail "$1: the start did not hand over (status $?)"
    grep -q 'its options window was opened' "$work/$1.log" || fail "$1: not handed over"
    wait_for "visible '^Vorlix Options$' $agent" || fail "$1: the running agent did not show its options"
}

# Short of descriptors: the agent's limit lowered to just above what it uses, then 300 connections that
# say nothing. They are closed after a second, and accepting goes on: a later start still hands over.
dir=$work
start_agent_in_tray first
limit=$(prlimit --pid "$agent" --nofile --output SOFT --noheadings)
prlimit --pid "$agent" --nofile=$(($(ls "/proc/$agent/fd" | wc -l) + 4)):
"$work/guardprobe" silent "$work/settings.zqf" 300 >"$work/silent.log" 2>&1 & pids+=($!)
wait_for 'grep -q "^open" "$work/silent.log"' 20 && grep -qx 'open 300' "$work/silent.log" ||
    fail "the silent connections were not all made"
hands_over silent
kill "${pids[-1]}"
prlimit --pid "$agent" --nofile="$limit":
hands_over after-silent

# With its usual limit, once it has taken in 300 silent connections, it holds only a few of them open.
used=$(ls "/proc/$agent/fd" | wc -l) name=$("$work/guardprobe" served "$work/settings.zqf")
"$work/guardprobe" silent "$work/settings.zqf" 300 >"$work/silent-again.log" 2>&1 & pids+=($!)
wait_for 'grep -qx "open 300" "$work/silent-again.log" && ss -xlH | grep -q "^u_str *LISTEN *0 .*@$name "' 20 ||
    fail "the agent did not take in the silent connections"
held=$(($(ls "/proc/$agent/fd" | wc -l) - used))
echo "silent connections: 300 made, $held held open by the agent"
[ "$held" -le 20 ] || fail "the agent holds $held silent connections open"
kill "${pids[-1]}"

# A request that never ends: dropped past a few hundred bytes, and the agent's memory stays as it was.
before=$(rss)
"$work/guardprobe" stream "$work/settings.zqf" 100 >"$work/stream.log" 2>&1 || fail "the endless request was not dropped"
after=$(rss)
echo "endless request: $(cat "$work/stream.log"); resident memory ${before} kB before, ${after} kB after"
[ $((after - before)) -lt 8192 ] || fail "the agent's memory grew from $before kB to $after kB"
hands_over after-stream
expect_end first TERM

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: the cases with another user need root, to create two users for them"
    exit 0
fi
# Two real users: a runs the agent, b is the other user of the machine.
a=vorlixa$$ b=vorlixb$$
for user in $a $b; do
    for _ in 1 2 3 4 5; do useradd --system --user-group --no-create-home --shell /usr/sbin/nologin "$user" && break; sleep 1; done
    cleanups+=("userdel $user")
done
chmod 711 "$work"
dir=$work/$a
mkdir -m 700 "$dir" "$work/runtime" && cp "$work/vorlix" "$work/guardprobe" "$dir/"
chown -R "$a:" "$dir" "$work/runtime"
chmod 755 "$work/guardprobe"
start_a() { # name: starts a's agent, which keeps its file in $dir
    (cd / && exec setpriv --reuid="$a" --regid="$a" --init-groups env HOME="$dir" XDG_RUNTIME_DIR="$work/runtime" \
        "$dir/vorlix") >>"$work/$1.log" 2>&1 &
    agent=$! pids+=($!)
}
start_a created && wait_tray_icon && expect_end created TERM
[ -f "$dir/settings.zqf" ] || fail "a's agent made no settings file"

# Write access through an access list, to the file and then to its folder: refused as the bits are.
cp "$dir/settings.zqf" "$work/before.zqf"
for case in "file $dir/settings.zqf rw" "folder $dir rwx"; do
    read -r what path permissions <<<"$case"
    setfacl -m "u:$b:$permissions" "$path"
    start_a "acl-$what"
    wait_for "visible '^Vorlix$' $agent" || fail "acl-$what: no refusal in a message box"
    expect_end "acl-$what" TERM
    ! grep -q 'SaveSettings\|could not save' "$work/acl-$what.log" || fail "acl-$what: a save was tried"
    cmp -s "$dir/settings.zqf" "$work/before.zqf" || fail "acl-$what: the refused file was changed"
    setfacl -b "$path"
done

# b holds the name a's agent would answer on: a's agent answers on another, never talks to b's program,
# and a second start of a's still hands over to the first.
setpriv --reuid="$b" --regid="$b" --init-groups "$work/guardprobe" listen "$(setpriv --reuid="$a" --regid="$a" --init-groups "$dir/guardprobe" name "$dir/settings.zqf")" \
    >"$work/squatter.log" 2>&1 &
pids+=($!)
wait_for 'grep -qs listening "$work/squatter.log"' || fail "b could not take the name"
start_a held && wait_tray_icon || fail "held: a's agent did not start"
grep -q 'it is not this agent, so Vorlix does not talk to it and answers on' "$work/held.log" ||
    fail "held: the agent did not say that another program holds its name"
hands_over held-second "$a"
! grep -q connection "$work/squatter.log" || fail "a's agents talked to b's program: $(cat "$work/squatter.log")"
expect_end held TERM
