#!/usr/bin/env bash
# End to end on the real udisks2 stack: a disc image mapped as e:: attached with
# udisksctl, to its autorun program started by tarvic-watch and tarvic, side by side
# with udiskie (Debian's automounter) mounting the same image; one of each in turn,
# each alone on the stack, from just before the attach. Medians and their ratio
# (target: tarvic at most 0.8 of udiskie).
# Usage: end_to_end.sh TARVIC-WATCH [ROUNDS]   (tarvic beside tarvic-watch)
set -euo pipefail
watch=${1:?the tarvic-watch to measure}
rounds=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../tests/stack/real_stack.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-end-to-end.XXXXXX")
pid=
stop() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    pid=
}
detach_all() {
    local l p
    for l in $(losetup --noheadings --output NAME --associated "$work/game.img" 2>/dev/null); do
        for p in $(findmnt --noheadings --output TARGET --source "$l" 2>/dev/null); do
            real_stack_wait 10 umount "$p" || true
        done
        losetup --detach "$l" 2>/dev/null || true
    done
}
cleanup() {
    stop
    detach_all
    real_stack_stop
    rm -rf "$work"
}
real_stack_start || { cleanup; exit 1; }
trap cleanup EXIT

mkdir -p "$work/config/tarvic/drives" "$work/game"
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[autorun]\r\nopen=ran.sh\r\n' >"$work/game/autorun.inf"
printf '#!/bin/sh\ndate +%%s%%N >"%s/ran.tmp" && mv "%s/ran.tmp" "%s/ran"\n' "$work" "$work" "$work" >"$work/game/ran.sh"
chmod +x "$work/game/ran.sh"
make_ext4_image "$work/game" "$work/game.img" E2E
ln -s "$work/game.img" "$work/config/tarvic/drives/e::"

now() { date +%s%N; }
attach() { udisksctl loop-setup --no-user-interaction -r -f "$work/game.img" >/dev/null; }

# tarvic: microseconds from the attach to the disc's program running
tarvic_once() {
    rm -f "$work/ran"
    XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen "$watch" 2>"$work/watch.log" &
    pid=$!
    real_stack_wait 20 grep -q "watching udisks2" "$work/watch.log" || { echo "tarvic-watch did not start" >&2; exit 1; }
    local start
    start=$(now)
    attach
    real_stack_wait 20 test -s "$work/ran" || { echo "the disc's program did not run" >&2; cat "$work/watch.log" >&2; exit 1; }
    echo $((($(cat "$work/ran") - start) / 1000))
    stop
    # tarvic ends once the program runs; then the disc can go.
    real_stack_wait 10 flock -n "$XDG_RUNTIME_DIR/tarvic/tarvic-E.lock" true || true
    detach_all
}

# udiskie: microseconds from the attach to the image mounted
udiskie_once() {
    udiskie --no-config --automount --no-notify --no-tray --no-file-manager --no-terminal --no-password-prompt \
        --no-notify-command --verbose 2>"$work/udiskie.log" &
    pid=$!
    real_stack_wait 20 grep -q "udiskie.udisks2" "$work/udiskie.log" || sleep 2
    findmnt --poll=mount --first-only --noheadings >/dev/null &
    local poller=$! start
    sleep 0.2   # the poller is listening
    start=$(now)
    attach
    timeout 20 tail --pid="$poller" -f /dev/null || { echo "udiskie did not mount the image" >&2; exit 1; }
    echo $((($(now) - start) / 1000))
    stop
    detach_all
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
: >"$work/tarvic.us"
: >"$work/udiskie.us"
for ((i = 0; i < rounds; i++)); do
    tarvic_once >>"$work/tarvic.us"
    udiskie_once >>"$work/udiskie.us"
done
t=$(median <"$work/tarvic.us")
u=$(median <"$work/udiskie.us")
awk -v t="$t" -v u="$u" -v n="$rounds" 'BEGIN {
    printf "bench_end_to_end: attach to the disc'"'"'s program running (tarvic-watch, tarvic): median %.1f ms of %d\n", t / 1000, n
    printf "bench_end_to_end: attach to the image mounted (udiskie): median %.1f ms of %d\n", u / 1000, n
    printf "bench_end_to_end: ratio %.2f (target at most 0.8)\n", t / u
}'
