#!/usr/bin/env bash
# An unmapped drive shows the usage box; Enter closes it and the program ends.
. "$(dirname "$0")/lib.sh"

start_app Q:
win=$(wait_window "Tarvic Usage")
press "$win" Return
status=$(wait_exit)
[ "$status" = 0 ] || fail "exit status $status"
no_windows
echo "PASS usage box"
