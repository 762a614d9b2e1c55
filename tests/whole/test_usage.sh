#!/usr/bin/env bash
# An unmapped drive shows the real usage box; Enter closes it and the program ends
# (also run on the installed package by packaging/test_package.sh).
. "$(dirname "$0")/lib.sh"

start_app Q:
press "$(wait_window "Tarvic Usage")" Return
[ "$(wait_exit)" = 0 ] || fail "exit status; $(cat "$WORK/out")"
no_windows
echo "PASS usage box"

# Started ahead by tarvic-watch and handed a drive and a medium, it is the run for that
# drive; let go, it ends quietly; handed anything else, it says so.
mkdir -p "$WORK/disc"
printf '[autorun]\r\nopen=ran.sh\r\n' >"$WORK/disc/autorun.inf"
printf '#!/bin/sh\npwd >"%s"\n' "$WORK/ran" >"$WORK/disc/ran.sh" && chmod +x "$WORK/disc/ran.sh"
map_drive R "$WORK/disc"
printf 'R:\n/dev/sr9\n' | TARVIC_STANDBY=1 "$TARVIC" || fail "handed R: it failed"
wait_file "$WORK/ran"
[ "$(cat "$WORK/ran")" = "$WORK/disc" ] && [ -z "$(TARVIC_STANDBY=1 "$TARVIC" </dev/null 2>&1)" ] || fail "ran in $(cat "$WORK/ran")"
out=$(printf 'R:' | TARVIC_STANDBY=1 "$TARVIC" 2>&1) && fail "a broken hand-over ended well: $out"
[[ "$out" == *"not a drive and a medium"* ]] || fail "a broken hand-over: $out"
echo "PASS a tarvic started ahead runs what it is handed, and nothing else"
