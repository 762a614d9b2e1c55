#!/usr/bin/env bash
# tarvic-watch runs where no window system is: it must not load Qt's window libraries.
# tarvic, which does, shows that the check sees them.
set -euo pipefail
watch=$1 tarvic=$2
windows='libQt6(Widgets|Gui)\.so'
ldd "$tarvic" | grep -Eq "$windows" || { echo "FAIL: the check does not see the window libraries in $tarvic" >&2; exit 1; }
if ldd "$watch" | grep -E "$windows"; then
    echo "FAIL: $watch loads Qt's window libraries" >&2
    exit 1
fi
ldd "$watch" | grep -q 'libQt6DBus\.so' || { echo "FAIL: $watch does not load Qt D-Bus: not the program meant" >&2; exit 1; }
echo "PASS tarvic-watch loads Qt Core and D-Bus only"
