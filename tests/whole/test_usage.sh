#!/usr/bin/env bash
# An unmapped drive shows the real usage box; Enter closes it and the program ends
# (also run on the installed package by packaging/test_package.sh).
. "$(dirname "$0")/lib.sh"

start_app Q:
press "$(wait_window "Tarvic Usage")" Return
[ "$(wait_exit)" = 0 ] || fail "exit status; $(cat "$WORK/out")"
no_windows
echo "PASS usage box"

# Started ahead by tarvic-watch and handed Q: with a medium, it is the same run; let
# go, it ends quietly; handed anything else, it says so and shows nothing.
rm -f "$WORK/status"
( set +e; printf 'Q:\n/dev/sr9\n' | TARVIC_STANDBY=1 "$TARVIC" >"$WORK/out" 2>&1; echo $? >"$WORK/status" ) &
APP_PID=$!
press "$(wait_window "Tarvic Usage")" Return
[ "$(wait_exit)" = 0 ] || fail "exit status of the handed-over run; $(cat "$WORK/out")"
[ -z "$(TARVIC_STANDBY=1 "$TARVIC" </dev/null 2>&1)" ] || fail "a tarvic let go said something"
out=$(printf 'Q:' | TARVIC_STANDBY=1 "$TARVIC" 2>&1) && fail "a broken hand-over ended well: $out"
grep -q "not a drive and a medium" <<<"$out" || fail "a broken hand-over: $out"
no_windows
echo "PASS a tarvic started ahead runs what it is handed, and nothing else"
