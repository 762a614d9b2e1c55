#!/usr/bin/env bash
# The real program on the real udisks2 stack under Xvfb, as a desktop hands a medium
# over: a disc image set up and mounted with udisksctl is handled when given by its
# device, its mount folder or its URI, mapped as e:: or not, and its autorun program
# starts in the disc's root.
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
