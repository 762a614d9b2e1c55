#!/usr/bin/env bash
# An unmapped drive shows the real usage box; Enter closes it and the program ends
# (also run on the installed package by packaging/test_package.sh).
. "$(dirname "$0")/lib.sh"

start_app Q:
press "$(wait_window "Tarvic Usage")" Return
[ "$(wait_exit)" = 0 ] || fail "exit status; $(cat "$WORK/out")"
no_windows
echo "PASS usage box"
