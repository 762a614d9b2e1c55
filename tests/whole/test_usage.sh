#!/usr/bin/env bash
# An unmapped drive shows the usage box; Enter closes it and the program ends. So does
# an argument beginning with "/" that names no folder or device, while "/c" configures.
. "$(dirname "$0")/lib.sh"

for argument in Q: /x; do
    start_app "$argument"
    press "$(wait_window "Tarvic Usage")" Return
    [ "$(wait_exit)" = 0 ] || fail "$argument: exit status; $(cat "$WORK/out")"
    no_windows
    echo "PASS usage box for $argument"
done
start_app /c
press "$(wait_window "Program Configuration")" Escape
[ "$(wait_exit)" = 0 ] || fail "/c: exit status; $(cat "$WORK/out")"
no_windows
echo "PASS /c configures"
