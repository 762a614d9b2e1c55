#!/usr/bin/env bash
# The stack itself: an ext4 image attached as a loop device is seen by udisks2,
# mounted through Filesystem.Mount and unmounted again; what was started is gone after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/real_stack.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-stack-test.XXXXXX")
loop=
cleanup() {
    if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
    real_stack_stop
    rm -rf "$work"
}
fail() { echo "FAIL: $*" >&2; exit 1; }

real_stack_start || { cleanup; exit 1; }
trap cleanup EXIT
started=("${REAL_STACK_PIDS[@]}")

mkdir "$work/tree"
echo hello >"$work/tree/hello.txt"
make_ext4_image "$work/tree" "$work/disc.img" STACKTEST
loop=$(losetup --find --show --read-only "$work/disc.img")
udevadm settle --timeout=10
object=/org/freedesktop/UDisks2/block_devices/${loop#/dev/}
real_stack_wait 10 udisks_call "$object" org.freedesktop.DBus.Properties Get ss org.freedesktop.UDisks2.Filesystem MountPoints \
    || fail "udisks2 does not see a file system on $loop"
point=$(udisks_call "$object" org.freedesktop.UDisks2.Filesystem Mount 'a{sv}' 1 auth.no_user_interaction b true | sed 's/^s "\(.*\)"$/\1/')
[ "$(cat "$point/hello.txt")" = hello ] || fail "mounted at '$point' without the image's file"
udisks_call "$object" org.freedesktop.UDisks2.Filesystem Unmount 'a{sv}' 0 >/dev/null
losetup -d "$loop"
loop=

real_stack_stop
for pid in "${started[@]}"; do
    ! kill -0 "$pid" 2>/dev/null || fail "process $pid outlived the stack"
done
echo "PASS the real stack mounts an image through udisks2 (started ${#started[@]} processes, all ended)"
