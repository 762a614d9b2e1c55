#!/usr/bin/env bash
# A data disc without autorun.inf. Tabbed into the "Tarvic" window's list, Home and
# Alt+R run the first program, C:\x.exe, as itself (not drive C:'s x.exe) in the
# drive's root. With the disc gone, Open drive opens the drive's folder and the
# window stays until Esc.
. "$(dirname "$0")/lib.sh"

disc=$(mktemp -d "$WORK/disc.XXXXXX")
other=$(mktemp -d "$WORK/c.XXXXXX")
printf '#!/bin/sh\necho "itself $(pwd -P)" >"%s/ran"\n' "$WORK" | install -m 755 /dev/stdin "$disc/C:\\x.exe"
printf '#!/bin/sh\necho "drive C:" >"%s/ran"\n' "$WORK" | install -m 755 /dev/stdin "$other/x.exe"
printf 'MZ' >"$disc/setup.exe"
map_drive E "$disc"
map_drive C "$other"
mkdir "$WORK/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s/opened"\n' "$WORK" | install -m 755 /dev/stdin "$WORK/bin/xdg-open"
export PATH="$WORK/bin:$PATH"

start_app E:
win=$(wait_window Tarvic)
press "$win" Tab Tab Home
press "$win" alt+r
wait_file "$WORK/ran"
import -window "$win" "${TARVIC_BUILD:-$WORK}/chooser.png" || fail "no screenshot"
[ "$(cat "$WORK/ran")" = "itself $(cd "$disc" && pwd -P)" ] || fail "ran: $(cat "$WORK/ran")"

rm -f "$disc"/*
press "$win" alt+o
wait_file "$WORK/opened"
[ "$(cat "$WORK/opened")" = "$disc" ] || fail "opened $(cat "$WORK/opened"), not $disc"
sleep 0.3
[ ! -e "$WORK/status" ] || fail "the program ended: $(cat "$WORK/out")"
[ "$(xdotool search --onlyvisible --name '^Tarvic$' | head -n1)" = "$win" ] || fail "the window is gone"
press "$win" Escape
[ "$(wait_exit)" = 0 ] || fail "no clean exit: $(cat "$WORK/out")"
