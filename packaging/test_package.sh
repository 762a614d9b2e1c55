#!/usr/bin/env bash
# test_package.sh DEB : installs the package as a Debian user does
# (apt-get install ./tarvic_*.deb), runs the installed tarvic to its usage box
# under Xvfb, purges the package and checks that nothing of it is left. Needs root
# (or sudo) and apt. It never touches a tarvic package that was there before: it
# refuses to run where dpkg knows one.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
deb=$(realpath "${1:?the package to test}")

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if dpkg-query -W tarvic >/dev/null 2>&1; then
    fail "dpkg already knows a tarvic package ($(dpkg-query -W -f='${Version} ${Status}' tarvic)); this test would replace and purge it"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-package.XXXXXX")
# apt fetches local packages as its own unprivileged user.
chmod 755 "$work"
installed=
cleanup() {
    [ -n "$installed" ] && as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvic >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
cp "$deb" "$work/"
chmod 644 "$work/$(basename "$deb")"

# Every path of the system's folders; caches and the package manager's own state
# change with any installation and are left out.
snapshot() {
    find /usr /etc /opt /var/lib -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/lib/systemd \
        -o -path /var/lib/ucf -o -path /var/lib/man-db \) -prune -o -print 2>/dev/null | LC_ALL=C sort
}
snapshot >"$work/before"

installed=1
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$work/$(basename "$deb")" \
    >"$work/apt.log" 2>&1 || fail "apt-get install: $(cat "$work/apt.log")"
mapfile -t listed < <(dpkg -L tarvic)
files=()
for path in "${listed[@]}"; do
    [ -d "$path" ] && [ ! -L "$path" ] || files+=("$path")
done
for want in /usr/bin/tarvic /usr/share/doc/tarvic/copyright /usr/share/man/man1/tarvic.1.gz \
    /usr/share/applications/tarvic.desktop /usr/share/solid/actions/tarvic.desktop \
    /usr/share/metainfo/com.halvane.tarvic.metainfo.xml; do
    printf '%s\n' "${files[@]}" | grep -qx "$want" || fail "the package lacks $want; it has: ${files[*]}"
done
[ -x /usr/bin/tarvic ] || fail "/usr/bin/tarvic is not a program"
man -l /usr/share/man/man1/tarvic.1.gz >/dev/null 2>&1 || [ ! -x /usr/bin/man ] || fail "man cannot read the manual page"

TARVIC=/usr/bin/tarvic bash "$TOP/tests/whole/test_usage.sh" || fail "the installed tarvic did not show its usage box"

as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvic >"$work/apt.log" 2>&1 ||
    fail "apt-get purge: $(cat "$work/apt.log")"
installed=
! dpkg-query -W tarvic >/dev/null 2>&1 || fail "dpkg still knows tarvic after the purge"
left=()
for path in "${files[@]}" /usr/share/doc/tarvic; do
    [ -e "$path" ] || [ -L "$path" ] && left+=("$path")
done
[ ${#left[@]} -eq 0 ] || fail "left behind after the purge: ${left[*]}"
snapshot >"$work/after"
changed=$(diff "$work/before" "$work/after" | grep '^[<>]' || true)
[ -z "$changed" ] || fail "the system's folders differ after the purge (< gone, > new): $changed"
echo "PASS the package installs (${#files[@]} files), starts and purges without a trace"
