#!/usr/bin/env bash
# Insertion to the disc's program on the real udisks2 stack: tarvic-watch with the
# tarvic beside it against udiskie (Debian's, a peer automounter) with a hook, in
# the same run, alternating, medians and their ratio.
#   bench/bench_autorun.sh <tarvic-watch> [insertions of each] [mount_floor]
# An ext4 image holding autorun.inf (open=run.sh) and run.sh is attached with
# udisksctl loop-setup (ATTACH=losetup: by the kernel, and udisks2 learns of it from
# udev, as of a disc put into a drive); the time runs from just before that call to
# the start of run.sh. udiskie --automount mounts it and its --notify-command hook runs run.sh
# from the mount folder, as tarvic does. Both watch all the time, each its own copy
# of the image: TARVIC is the drive map's e::, UDISKIE one that udiskie's
# configuration does not ignore. Holds the stack's lock for the whole run.
# With mount_floor, a second round alternates udiskie with the watcher starting that
# stand-in instead of tarvic: the least any program started on an insertion takes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../tests/stack/real_stack.sh"
watch=${1:?usage: bench_autorun.sh <tarvic-watch> [insertions]}
insertions=${2:-20}
floor=${3-}
attach=${ATTACH:-udisksctl}
command -v udiskie >/dev/null || { echo "bench_autorun: udiskie is missing (bench/run installs it)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-bench-autorun.XXXXXX")
pids=()
loops=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    release_loops "${loops[@]}"
    real_stack_stop
    rm -rf "$work"
}
fail() {
    echo "bench_autorun: $*" >&2
    for log in "$work"/*.log; do echo "$log:" >&2; tail -n 20 "$log" | sed 's/^/    /' >&2; done
    exit 1
}
real_stack_start || { cleanup; exit 1; }
trap cleanup EXIT
us() { local t=${EPOCHREALTIME/[.,]/}; echo "$t"; }

# A display as on a desktop, for whichever of the two wants one.
if [ -z "${DISPLAY-}" ]; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
    pids+=($!)
    real_stack_wait 10 test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
fi
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$work/config/tarvic/drives" "$work/disc"
printf '[autorun]\r\nopen=run.sh\r\n' >"$work/disc/autorun.inf"
printf '#!/bin/bash\nt=${EPOCHREALTIME/[.,]/}\necho "$t" >%q.tmp && mv %q.tmp %q\n' "$work/ran" "$work/ran" "$work/ran" \
    >"$work/disc/run.sh"
chmod +x "$work/disc/run.sh"
make_ext4_image "$work/disc" "$work/tarvic.img" TARVIC
make_ext4_image "$work/disc" "$work/udiskie.img" UDISKIE
ln -s "$work/tarvic.img" "$work/config/tarvic/drives/e::"
printf '#!/bin/sh\n[ "$1" = device_mounted ] && [ "$2" = UDISKIE ] && cd "$3" && exec ./run.sh\nexit 0\n' >"$work/hook.sh"
chmod +x "$work/hook.sh"
echo '{"ignore_device": [{"id_label": "TARVIC"}]}' >"$work/udiskie.json"

# start_watch [PROGRAM]: the watcher, starting PROGRAM in place of tarvic if given
standin=
start_watch() {
    standin=${1-}
    env XDG_CONFIG_HOME="$work/config" ${1:+TARVIC_WATCH_PROGRAM="$1"} "$watch" 2>"$work/watch.log" &
    watcher=$!
    pids+=($watcher)
}
start_watch
XDG_CONFIG_HOME=$work/config udiskie --config "$work/udiskie.json" --automount --no-notify --no-tray \
    --no-file-manager --no-terminal --no-password-prompt \
    --notify-command "$work/hook.sh {event} {id_label} {mount_path}" >"$work/udiskie.log" 2>&1 &
pids+=($!)
real_stack_wait 20 grep -q "watching udisks2" "$work/watch.log" || fail "the watcher did not begin"

# insert IMAGE: milliseconds from the attachment to run.sh, then the image taken out
insert() {
    local loop start ran point
    rm -f "$work/ran"
    start=$(us)
    if [ "$attach" = losetup ]; then
        loop=$(losetup --find --show --read-only "$1")
    else
        loop=$(udisksctl loop-setup --no-user-interaction -r -f "$1" | sed -n 's/.* as \(\/dev\/loop[0-9]*\)\.$/\1/p')
    fi
    [ -n "$loop" ] || fail "$attach did not attach $1"
    loops+=("$loop")
    real_stack_wait 20 test -s "$work/ran" || fail "run.sh of $1 did not start"
    ran=$(cat "$work/ran")
    # Whoever mounted it lets go once run.sh has started and tarvic has ended.
    for point in $(findmnt --noheadings --output TARGET --source "$loop"); do
        real_stack_wait 10 udisksctl unmount --no-user-interaction -b "$loop" || fail "$point stays busy"
    done
    udisksctl loop-delete --no-user-interaction -b "$loop" >/dev/null 2>&1 || losetup -d "$loop"
    unset 'loops[-1]'
    # What the detachment raises, then a clean slate for the next one: for tarvic that
    # includes the tarvic the watcher starts ahead of the next insertion.
    sleep 0.3
    if [ "$1" = "$work/tarvic.img" ] && [ -z "$standin" ]; then
        real_stack_wait 10 waiting_tarvic || fail "the watcher started no tarvic ahead of the next insertion"
        sleep 0.3
    fi
    awk -v a="$start" -v b="$ran" 'BEGIN { printf "%.1f\n", (b - a) / 1000 }'
}
# A tarvic of this run, started ahead by the watcher, waiting on its pipe.
waiting_tarvic() {
    local pid
    for pid in $(pgrep -x tarvic); do
        [[ "$(cat "/proc/$pid/wchan" 2>/dev/null)" = *pipe_read ]] &&
            tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "XDG_CONFIG_HOME=$work/config" && return 0
    done
    return 1
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int(NR / 2) + 1] }'; }

# alternate OURS: one of each first, not counted (programs and libraries into the
# page cache), then INSERTIONS of each into $work/OURS.ms and $work/udiskie.ms
alternate() {
    insert "$work/tarvic.img" >/dev/null
    insert "$work/udiskie.img" >/dev/null
    : >"$work/$1.ms"
    : >"$work/udiskie.ms"
    for ((i = 0; i < insertions; i++)); do
        insert "$work/tarvic.img" >>"$work/$1.ms"
        insert "$work/udiskie.img" >>"$work/udiskie.ms"
    done
    [ "$(grep -c "starting tarvic" "$work/watch.log")" = $((insertions + 1)) ] || fail "tarvic not started once per insertion"
}
# say WHAT OURS TARGET
say() {
    local t u
    t=$(median <"$work/$2.ms")
    u=$(median <"$work/udiskie.ms")
    awk -v attach="$attach" -v what="$1" -v t="$t" -v u="$u" -v n="$insertions" -v target="$3" \
        -v tmin="$(sort -n "$work/$2.ms" | head -n1)" -v tmax="$(sort -n "$work/$2.ms" | tail -n1)" 'BEGIN {
        printf "bench_autorun: insertion (%s) to the disc'"'"'s program, medians of %d insertions each: %s %.1f ms (min %.1f, max %.1f), udiskie + hook %.1f ms: %.2fx%s\n", attach, n, what, t, tmin, tmax, u, t / u, target }'
}

alternate tarvic
say "tarvic-watch + tarvic" tarvic " (target at most 0.8x)"
if [ -n "$floor" ]; then
    kill "$watcher"
    wait "$watcher" 2>/dev/null || true
    start_watch "$floor"
    real_stack_wait 20 grep -q "watching udisks2" "$work/watch.log" || fail "the watcher did not begin again"
    alternate floor
    say "tarvic-watch + a stand-in that only waits for the mount and starts run.sh" floor ""
fi
