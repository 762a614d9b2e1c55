#!/usr/bin/env bash
# A data disc without autorun.inf: the chooser window lists its programs; Tab to the
# list, Down and Alt+R start the chosen one with the drive's root as its working
# directory; Esc then ends the program. Leaves a screenshot in $TARVIC_BUILD.
. "$(dirname "$0")/lib.sh"

disc="$WORK/disc"
mkdir -p "$disc/sub"
# rec.exe sorts before setup.exe, so the first Down selects it.
cat >"$disc/rec.exe" <<EOF
#!/bin/sh
pwd -P >"$WORK/ran.tmp" && mv "$WORK/ran.tmp" "$WORK/ran"
EOF
chmod +x "$disc/rec.exe"
printf 'MZ' >"$disc/setup.exe"
echo "not a program" >"$disc/readme.txt"
map_drive E "$disc"

# Started from elsewhere, so the working directory can only come from the drive.
cd "$WORK"
start_app E:
win=$(wait_window Tarvic)
press "$win" Tab Tab Down
sleep 0.5
import -window "$win" "${TARVIC_BUILD:-$WORK}/chooser.png" || fail "no screenshot"

press "$win" alt+r
wait_file "$WORK/ran"
want=$(cd "$disc" && pwd -P)
[ "$(cat "$WORK/ran")" = "$want" ] || fail "started in '$(cat "$WORK/ran")', not in '$want'"
# Exit on run was not ticked: the window is still there.
[ -z "$(cat "$WORK/status" 2>/dev/null)" ] || fail "the program ended on Run: $(cat "$WORK/out")"

press "$win" Escape
status=$(wait_exit)
[ "$status" = 0 ] || fail "exit status $status; output: $(cat "$WORK/out")"
no_windows
echo "PASS chooser runs the chosen program in the drive's root"
