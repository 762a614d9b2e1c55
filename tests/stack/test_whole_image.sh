#!/usr/bin/env bash
# The real program on the real udisks2 stack under Xvfb: a disc image mapped as e::
# is attached and mounted and its autorun program starts in the disc's root, twice on
# one loop device; set up with udisksctl, it is handled when handed over by its device or
# its mount folder, mapped or not; a loop device with nothing attached asks for its
# disc until it has one.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../whole/lib.sh"
. "$here/real_stack.sh"

loops=()
finish() {
    cd /
    release_loops "${loops[@]}" -- "$WORK/game.img"
    real_stack_stop
    cleanup
}
real_stack_start || { finish; exit 1; }
trap finish EXIT

label=TW$$
mkdir -p "$WORK/tree/Bin"
printf '[AutoRun]\r\nopen=bin\\install.sh\r\n' >"$WORK/tree/AUTORUN.INF"
printf '#!/bin/sh\npwd -P >"$RECORD.tmp" && mv "$RECORD.tmp" "$RECORD"\n' >"$WORK/tree/Bin/Install.sh"
chmod +x "$WORK/tree/Bin/Install.sh"
make_ext4_image "$WORK/tree" "$WORK/game.img" "$label" || fail "no image"
export RECORD="$WORK/ran"
drives="$XDG_CONFIG_HOME/tarvic/drives"

# ran WHAT: tarvic ended well, no window left, after starting the disc's program in the root of the disc
ran() {
    [ "$(wait_exit)" = 0 ] || fail "$1: exit status; $(cat "$WORK/out")"
    wait_file "$RECORD"
    local loop root
    loop=$(losetup --noheadings --output NAME --associated "$WORK/game.img" | head -n1)
    root=$(findmnt --noheadings --output TARGET --source "$loop" | head -n1)
    [ -n "$root" ] || fail "$1: the image is not mounted; $(cat "$WORK/out")"
    [ "$(cat "$RECORD")" = "$root" ] || fail "$1: ran in $(cat "$RECORD"), not in $root"
    no_windows
    rm -f "$RECORD"
    echo "PASS $1"
}

ln -s "$WORK/game.img" "$drives/e::"
start_app E:
ran "a disc image is attached, mounted and dispatched"
first=$(losetup --noheadings --output NAME --associated "$WORK/game.img")
start_app e:
ran "a second run"
[ "$(losetup --noheadings --output NAME --associated "$WORK/game.img")" = "$first" ] || fail "attached again: $(losetup -a)"
echo "PASS the second run found $first attached already"
umount "$(findmnt --noheadings --output TARGET --source "$first")"
for _ in $(seq 50); do [ -z "$(losetup --noheadings --associated "$WORK/game.img")" ] && break; sleep 0.1; done

# As a desktop hands a medium over: the device, the mount folder, its URI; E: maps the
# image, and without that entry the device gets a letter of its own.
dev=$(udisksctl loop-setup --no-user-interaction --read-only --file "$WORK/game.img" | sed -n 's/^Mapped file .* as \(.*\)\.$/\1/p')
[ -b "$dev" ] || fail "udisksctl attached nothing"
loops+=("$dev")
udisksctl mount --no-user-interaction --block-device "$dev" >/dev/null || fail "udisksctl did not mount $dev"
point=$(findmnt --noheadings --output TARGET --source "$dev" | head -n1)
for arg in "$dev" "$point" "file://$point"; do
    start_app "$arg"
    ran "tarvic $arg"
done
rm "$drives/e::"
start_app "$dev"
ran "tarvic $dev, which no letter maps"
umount "$point"
losetup --detach "$dev" 2>/dev/null || true

# A loop device with nothing attached: no disc, until the image is attached to it.
loop=$(losetup --find --show --read-only "$WORK/game.img")
loops+=("$loop")
losetup --detach "$loop"
ln -s "$loop" "$drives/f::"
start_app F:
win=$(wait_window "Disc Request")
losetup --read-only "$loop" "$WORK/game.img"
udevadm settle --timeout=10
press "$win" Return
ran "a detached loop device waits for its disc"
