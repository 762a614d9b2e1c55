#!/usr/bin/env bash
# tarvic-watch on the real udisks2 stack with images attached as loop devices: it
# mounts ahead of tarvic and the real tarvic beside it mounts once; three tarvic at
# once attach and mount once and run the program once; an image attached and
# detached within 20 ms starts a tarvic that ends quietly and attaches nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../stack/real_stack.sh"
watch=${TARVIC_WATCH:?the tarvic-watch to test}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-watch-real.XXXXXX")
watch_pid= monitor_pid= loops=()
stop_watch() { if [ -n "$watch_pid" ]; then kill "$watch_pid" 2>/dev/null || true; wait "$watch_pid" 2>/dev/null || true; fi; watch_pid=; }
cleanup() {
    stop_watch
    [ -z "$monitor_pid" ] || kill "$monitor_pid" 2>/dev/null || true
    release_loops "${loops[@]}" -- "$work/game.img"
    real_stack_stop
    rm -rf "$work"
}
fail() { { echo "FAIL: $*"; echo "the watcher said:"; sed 's/^/    /' "$work/watch.log"; } >&2; exit 1; }
real_stack_start || { cleanup; exit 1; }
trap cleanup EXIT

said() { grep -cF -- "$1" "$work/watch.log" || true; }
said_at_least() { [ "$(said "$2")" -ge "$1" ]; }
# waits_for COUNT TEXT: until the watcher has said TEXT COUNT times
waits_for() { real_stack_wait 20 said_at_least "$1" "$2" || fail "never said '$2' $1 times"; }
# start_watch COUNT: a watcher afresh, the COUNTth of this run
start_watch() { stop_watch; "$watch" 2>>"$work/watch.log" & watch_pid=$!; waits_for "$1" "watching udisks2 on the system bus"; }
attach() { udisksctl loop-setup --no-user-interaction -r -f "$1" | sed -n 's/.* as \(\/dev\/loop[0-9]*\)\.$/\1/p'; }
# detach LOOP: as an eject does, whatever the watcher mounted ahead goes too (a mounted
# loop device is only marked to go when it is unmounted)
detach() { udisksctl loop-delete --no-user-interaction -b "$1" >/dev/null && real_stack_wait 5 let_go "$1"; }
let_go() {
    [ -n "$(cat "/sys/block/${1#/dev/}/loop/backing_file" 2>/dev/null)" ] || return 0
    for point in $(findmnt --noheadings --output TARGET --source "$1"); do umount "$point" 2>/dev/null || true; done
    return 1
}

mkdir -p "$work/config/tarvic/drives" "$work/game"
# Where tarvic marks the drive it handles, for the watcher to see; no screen needed for a
# disc whose program starts.
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen WATCH_RECORD=$work/ran
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[autorun]\r\nopen=setup.sh\r\n' >"$work/game/autorun.inf"
printf '#!/bin/sh\necho ran >>"$WATCH_RECORD.runs"\npwd -P >"$WATCH_RECORD.tmp" && mv "$WATCH_RECORD.tmp" "$WATCH_RECORD"\n' \
    >"$work/game/setup.sh"
chmod +x "$work/game/setup.sh"
make_ext4_image "$work/game" "$work/game.img" GAME
ln -s "$work/game.img" "$work/config/tarvic/drives/e::"

# The real tarvic beside the watcher, with the disc's autorun program.
start_watch 1
# Every Mount that udisks2 is asked for, by anyone.
dbus-monitor --system "type='method_call',interface='org.freedesktop.UDisks2.Filesystem',member='Mount'" >"$work/mounts" 2>&1 &
monitor_pid=$!
real_stack_wait 10 grep -q NameAcquired "$work/mounts" || fail "dbus-monitor did not start: $(cat "$work/mounts")"
loop=$(attach "$work/game.img")
[ -n "$loop" ] || fail "udisksctl did not attach $work/game.img"
loops+=("$loop")
waits_for 1 "E: image in $loop: starting tarvic E:"
real_stack_wait 20 test -s "$work/ran" || fail "the disc's program did not run"
root=$(findmnt --noheadings --output TARGET --source "$loop" | head -n1)
[ -n "$root" ] && [ "$(cat "$work/ran")" = "$root" ] || fail "the program ran in $(cat "$work/ran"), not in the disc's root '$root'"
kill "$monitor_pid" && { wait "$monitor_pid" 2>/dev/null || true; }
[ "$(grep -c "member=Mount" "$work/mounts")" = 1 ] || fail "udisks2 was asked to mount it $(grep -c "member=Mount" "$work/mounts") times"
# The watcher mounted it ahead of tarvic: the one Mount came from the watcher's connection.
sender=$(sed -n 's/.* sender=\([^ ]*\) .*member=Mount.*/\1/p' "$work/mounts")
dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetConnectionUnixProcessID "string:$sender" | grep -qw "uint32 $watch_pid" \
    || fail "the Mount came from $sender, not from the watcher ($watch_pid)"
[ "$(said "E: handed to the tarvic started ahead")" = 1 ] || fail "the insertion did not go to the tarvic started ahead"
echo "PASS attaching the image mapped as e:: ran its autorun program in the disc's root through the real tarvic started ahead, mounted once, ahead of it by the watcher"

# Typed by the user with the watcher running, twice at once (a double click) and for
# F:, the same image: one tarvic attaches and mounts it, the others wait for that and
# leave the disc to it; no box (offscreen it would never end), the program runs once.
ln -s "$work/game.img" "$work/config/tarvic/drives/f::"
detach "$loop" || fail "$loop stays busy: tarvic did not end once the program ran"
waits_for 1 "E: $loop taken out"
rm -f "$work/ran" "$work/ran.runs"
pids=()
for letter in E: E: F:; do
    timeout 60 "$(dirname "$watch")/tarvic" "$letter" 2>>"$work/tarvic.log" &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a tarvic failed: $(cat "$work/tarvic.log")"; done
mapfile -t attached < <(losetup --noheadings --output NAME --associated "$work/game.img")
loops+=("${attached[@]}")
[ "${#attached[@]}" = 1 ] || fail "the image is attached ${#attached[@]} times"
loop=${attached[0]}
[ "$(findmnt --noheadings --output TARGET --source "$loop" | wc -l)" = 1 ] || fail "mounted more than once: $(findmnt --source "$loop")"
[ "$(grep -c "by another tarvic, which handles it" "$work/tarvic.log")" = 2 ] || fail "not the two other runs left the disc to the first: $(cat "$work/tarvic.log")"
waits_for 1 "image in $loop: "
[ "$(said "image in $loop: tarvic is already handling")" = 1 ] || fail "the watcher did not leave the image that tarvic attached to it"
real_stack_wait 20 test -s "$work/ran.runs" || fail "the disc's program did not run"
[ "$(said "starting tarvic")" = 1 ] && [ "$(cat "$work/ran.runs")" = ran ] || fail "the disc's program ran $(wc -l <"$work/ran.runs") times"
echo "PASS three tarvic at once for one image beside the watcher attached and mounted it once and ran the disc's program once"

# Taken out right after it went in, round after round: the tarvic that the watcher
# starts for it finds the medium it was handed gone and ends quietly; it attaches
# nothing of its own, mounts nothing and runs nothing.
rm -f "$work/ran" "$work/ran.runs" "$work/config/tarvic/drives/f::"
detach "$loop" || fail "$loop stays attached"
# The tarvic comes late, as on a busy machine: once the medium it was handed is gone.
cat >"$work/late-tarvic" <<EOF
#!/bin/sh
n=\${TARVIC_MEDIUM#/dev/} i=0
while [ -n "\$n" ] && [ -n "\$(cat "/sys/block/\$n/loop/backing_file" 2>/dev/null)" ] && [ \$((i += 1)) -lt 500 ]; do sleep 0.01; done
exec "$(dirname "$watch")/tarvic" "\$@"
EOF
chmod +x "$work/late-tarvic"
TARVIC_WATCH_PROGRAM=$work/late-tarvic start_watch 2
starts=$(said "starting tarvic E:")
ended() { [ "$(said "that tarvic-watch saw arrive is gone")" -ge "$(($(said "starting tarvic E:") - starts))" ]; }
for round in 1 2 3 4 5 6; do
    loop=$(attach "$work/game.img")
    sleep 0.02
    detach "$loop" || true
    loops+=("$loop")
    real_stack_wait 20 ended || fail "a tarvic started for a medium that went did not end quietly"
done
[ "$(said "starting tarvic E:")" -gt "$starts" ] || fail "the watcher started no tarvic in 6 rounds"
real_stack_wait 30 test -z "$(losetup --noheadings --associated "$work/game.img")" \
    || fail "the image is attached: $(losetup --associated "$work/game.img")"
[ ! -e "$work/ran.runs" ] || fail "the disc's program ran $(wc -l <"$work/ran.runs") times"
echo "PASS an image taken out right after it went in: the tarvic started for it ended quietly, attached and ran nothing"
