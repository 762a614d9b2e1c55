#!/usr/bin/env bash
# The real udisks2 stack for tests: systemd-udevd, a system bus and udisksd.
#   tests/stack/real_stack.sh COMMAND [ARGS...]   runs COMMAND on that stack's bus, then stops
#       exactly what it started (by process id); COMMAND's status, or 1 if the stack cannot start.
#   . tests/stack/real_stack.sh                   real_stack_start (which sets real_stack_stop as
#       the EXIT trap: call it from a trap of your own), real_stack_wait, make_ext4_image FOLDER
#       IMAGE [LABEL], release_loops [LOOP...] [-- IMAGE...] (unmounts and detaches those).
# What runs already is used and left alone; what is missing is started, as root (dbus-daemon
# with the system bus's policy and no activation). The stack is the machine's: a run holds
# /tmp/tarvic-real-stack.lock (in ctest, RESOURCE_LOCK real_udisks_stack too).

REAL_STACK_LOCK=/tmp/tarvic-real-stack.lock
REAL_STACK_DIR=
REAL_STACK_PIDS=()          # what we started, in the order of starting
REAL_STACK_NAMES=()
REAL_STACK_MADE=()          # the state folders of services we started, where the machine had none
REAL_STACK_OLD_BUS=${DBUS_SYSTEM_BUS_ADDRESS-}
REAL_STACK_HAD_BUS=${DBUS_SYSTEM_BUS_ADDRESS+set}

real_stack_say() { echo "real udisks2 stack: $*" >&2; }

# real_stack_wait SECONDS COMMAND... : until COMMAND succeeds, or false at the deadline
real_stack_wait() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

real_stack_ask() {
    timeout 5 dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "org.freedesktop.DBus.$@" 2>/dev/null
}
real_stack_bus_answers() { real_stack_ask GetId >/dev/null; }
real_stack_udisks_owned() { real_stack_ask NameHasOwner string:org.freedesktop.UDisks2 | grep -q 'boolean true'; }
real_stack_alive() { kill -0 "${REAL_STACK_PIDS[-1]}" 2>/dev/null; }
real_stack_gone() { ! kill -0 "$1" 2>/dev/null; }

# real_stack_launch NAME COMMAND... : starts COMMAND in the background, its log in the stack's folder
real_stack_launch() {
    "${@:2}" </dev/null >>"$REAL_STACK_DIR/$1.log" 2>&1 &
    REAL_STACK_PIDS+=($!)
    REAL_STACK_NAMES+=("$1")
}

# real_stack_fail NAME WHY : says why, with the last words of NAME's log
real_stack_fail() {
    real_stack_say "$2"
    [ -s "$REAL_STACK_DIR/$1.log" ] && { real_stack_say "its last words:"; tail -n 15 "$REAL_STACK_DIR/$1.log" | sed 's/^/    /' >&2; }
    return 1
}

real_stack_start() {
    local deadline=${REAL_STACK_DEADLINE:-20} tool fd root=yes
    for tool in dbus-daemon dbus-send udevadm losetup mkfs.ext4 timeout flock /lib/systemd/systemd-udevd /usr/libexec/udisks2/udisksd; do
        command -v "$tool" >/dev/null 2>&1 \
            || { real_stack_say "$tool is missing (scripts/test installs udisks2, udev, dbus, e2fsprogs, systemd)"; return 1; }
    done
    # A caller that holds the lock already passes it on.
    for fd in /proc/$$/fd/*; do [ "$(readlink "$fd" 2>/dev/null)" = "$REAL_STACK_LOCK" ] && break; fd=; done
    if [ -z "$fd" ]; then
        [ -e "$REAL_STACK_LOCK" ] || : >>"$REAL_STACK_LOCK"
        exec {REAL_STACK_LOCK_FD}<"$REAL_STACK_LOCK" || { real_stack_say "cannot open $REAL_STACK_LOCK"; return 1; }
        flock -w 900 "$REAL_STACK_LOCK_FD" || { real_stack_say "$REAL_STACK_LOCK stayed taken for 15 minutes"; return 1; }
    fi
    trap real_stack_stop EXIT
    REAL_STACK_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-stack.XXXXXX") || return 1
    [ "$(id -u)" -eq 0 ] || root=

    # udevd: udisks2 learns of devices, loop devices included, from its database.
    if ! timeout 5 udevadm control --ping >/dev/null 2>&1; then
        [ -n "$root" ] || { real_stack_say "udevd does not run and only root may start it"; return 1; }
        [ -d /run/udev ] || REAL_STACK_MADE+=(/run/udev)
        real_stack_launch udevd /lib/systemd/systemd-udevd
        real_stack_wait "$deadline" udevadm control --ping || { real_stack_fail udevd "systemd-udevd did not answer within $deadline s"; return 1; }
    fi

    # The system bus: the machine's when it answers, else a private one.
    [ -z "$REAL_STACK_HAD_BUS" ] && [ -S /run/dbus/system_bus_socket ] && export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket
    if [ -z "${DBUS_SYSTEM_BUS_ADDRESS-}" ] || ! real_stack_bus_answers; then
        [ -n "$root" ] || { real_stack_say "no system bus answers and only root may start one for udisksd"; return 1; }
        local conf=$REAL_STACK_DIR/system.conf socket=$REAL_STACK_DIR/system_bus_socket
        # The system bus's policy (udisks2 owns its name as root only), relative
        # includes made absolute; no user switch, pid file, syslog or activation, so
        # nothing starts on this bus that we did not start.
        sed -e "s|<listen>[^<]*</listen>|<listen>unix:path=$socket</listen>|" \
            -e '/<user>/d' -e '/<fork\/>/d' -e '/<pidfile>/d' -e '/<syslog\/>/d' \
            -e '/<standard_system_servicedirs\/>/d' -e '/<servicehelper>/d' -e '/selinux_root_relative/d' \
            -e 's|<includedir>system.d</includedir>|<includedir>/usr/share/dbus-1/system.d</includedir>|' \
            /usr/share/dbus-1/system.conf >"$conf" || { real_stack_say "cannot write $conf"; return 1; }
        real_stack_launch dbus dbus-daemon --config-file="$conf" --nofork --nopidfile
        export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$socket
        real_stack_wait "$deadline" real_stack_bus_answers || { real_stack_fail dbus "the private system bus did not answer within $deadline s"; return 1; }
    fi

    if ! real_stack_udisks_owned; then
        [ -n "$root" ] || { real_stack_say "udisksd does not run and only root may start it"; return 1; }
        [ -d /run/udisks2 ] || REAL_STACK_MADE+=(/run/udisks2)
        real_stack_launch udisksd /usr/libexec/udisks2/udisksd
        real_stack_wait "$deadline" eval 'real_stack_udisks_owned || ! real_stack_alive'
        real_stack_udisks_owned || { real_stack_fail udisksd "udisksd $(real_stack_alive && echo "did not take its bus name within $deadline s" || echo "ended at start")"; return 1; }
    fi
    return 0
}

real_stack_stop() {
    local i pid
    for ((i = ${#REAL_STACK_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${REAL_STACK_PIDS[i]}
        kill "$pid" 2>/dev/null || continue
        real_stack_wait 5 real_stack_gone "$pid" \
            || { real_stack_say "${REAL_STACK_NAMES[i]} ($pid) did not end on SIGTERM; killing it"; kill -KILL "$pid" 2>/dev/null; }
        wait "$pid" 2>/dev/null || true
    done
    REAL_STACK_PIDS=() REAL_STACK_NAMES=()
    rm -rf "${REAL_STACK_MADE[@]}" "${REAL_STACK_DIR:-/nonexistent}"
    REAL_STACK_MADE=() REAL_STACK_DIR=
    if [ -n "$REAL_STACK_HAD_BUS" ]; then export DBUS_SYSTEM_BUS_ADDRESS=$REAL_STACK_OLD_BUS; else unset DBUS_SYSTEM_BUS_ADDRESS; fi
    if [ -n "${REAL_STACK_LOCK_FD-}" ]; then exec {REAL_STACK_LOCK_FD}>&-; unset REAL_STACK_LOCK_FD; fi
    trap - EXIT
    return 0
}

make_ext4_image() {
    local folder=$1 image=$2 label=${3:-TARVIC} out
    rm -f "$image"
    out=$(mkfs.ext4 -q -F -L "$label" -d "$folder" "$image" "$(($(du -sk "$folder" | cut -f1) + 4096))K" 2>&1) \
        || { echo "mkfs.ext4 of $folder: $out" >&2; return 1; }
}

# release_loops [LOOP...] [-- IMAGE...] : unmounts and detaches these loop devices and every
# one that holds these images, so that a test or benchmark leaves none behind
release_loops() {
    local loops=() l point
    while [ $# -gt 0 ] && [ "$1" != -- ]; do loops+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    for l in "$@"; do
        mapfile -t -O "${#loops[@]}" loops < <(losetup --noheadings --output NAME --associated "$l" 2>/dev/null)
    done
    for l in "${loops[@]}"; do
        for point in $(findmnt --noheadings --output TARGET --source "$l" 2>/dev/null); do umount "$point" 2>/dev/null; done
        losetup --detach "$l" 2>/dev/null || true
    done
    return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    [ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
    real_stack_start || { real_stack_stop; exit 1; }
    "$@"
    status=$?
    real_stack_stop
    exit "$status"
fi
