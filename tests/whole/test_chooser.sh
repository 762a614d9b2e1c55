#!/usr/bin/env bash
# A data disc without autorun.inf: Tab, Down and Alt+R in the "Tarvic" window run its first program in the drive's root.
. "$(dirname "$0")/lib.sh"

disc=$(mktemp -d "$WORK/disc.XXXXXX")
printf '#!/bin/sh\npwd -P >"%s/ran"\n' "$WORK" | install -m 755 /dev/stdin "$disc/rec.exe"
printf 'MZ' >"$disc/setup.exe"
map_drive E "$disc"

start_app E:
win=$(wait_window Tarvic)
press "$win" Tab Tab Down
press "$win" alt+r
wait_file "$WORK/ran"
import -window "$win" "${TARVIC_BUILD:-$WORK}/chooser.png" || fail "no screenshot"
[ "$(cat "$WORK/ran")" = "$(cd "$disc" && pwd -P)" ] || fail "started in $(cat "$WORK/ran"), not in the drive's root"
press "$win" Escape
[ "$(wait_exit)" = 0 ] || fail "no clean exit: $(cat "$WORK/out")"
