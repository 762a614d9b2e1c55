#!/usr/bin/env bash
# tarvic-watch runs where no window system is: it must not load Qt's window libraries.
# tarvic, which does, shows that the check sees them.
set -euo pipefail
watch=$1 tarvic=$2
windows='libQt6(Widgets|Gui)\.so'
# Read ldd whole first: grep -q stopping early would kill ldd with SIGPIPE under pipefail.
tarvic_libs=$(ldd "$tarvic") watch_libs=$(ldd "$watch")
grep -Eq "$windows" <<<"$tarvic_libs" || { echo "FAIL: the check does not see the window libraries in $tarvic" >&2; exit 1; }
if grep -E "$windows" <<<"$watch_libs"; then
    echo "FAIL: $watch loads Qt's window libraries" >&2
    exit 1
fi
grep -q 'libQt6DBus\.so' <<<"$watch_libs" || { echo "FAIL: $watch does not load Qt D-Bus: not the program meant" >&2; exit 1; }
echo "PASS tarvic-watch loads Qt Core and D-Bus only"
