#!/usr/bin/env bash
# The real program: an audio CD starts its player in the start-in folder, autorun.inf
# a program in the drive's root (with no display to reach), and an empty drive asks for a disc until one is in.
. "$(dirname "$0")/lib.sh"

mkdir -p "$WORK/start in" "$WORK/cd" "$WORK/data/Bin" "$WORK/empty"
# One script that writes down where it ran serves as the player and as the disc's program.
printf '#!/bin/sh\npwd -P >"$RECORD.tmp" && mv "$RECORD.tmp" "$RECORD"\n' >"$WORK/data/Bin/Install.sh"
chmod +x "$WORK/data/Bin/Install.sh"
printf '[Tarvic]\nAudioCD=%s\nCDSI=%s\n' "$WORK/data/Bin/Install.sh" "$WORK/start in" >"$XDG_CONFIG_HOME/Halvane.ini"
: >"$WORK/cd/track01.cda"
printf '[AutoRun]\r\nopen=bin\\install.sh\r\n' >"$WORK/data/AUTORUN.INF"
for d in E:cd F:data G:empty; do map_drive "${d%:*}" "$WORK/${d#*:}"; done
export RECORD="$WORK/ran"

# ran WHAT FOLDER: tarvic ended well, no window left, after starting a program in FOLDER
ran() {
    [ "$(wait_exit)" = 0 ] || fail "$1: exit status; $(cat "$WORK/out")"
    wait_file "$RECORD"
    [ "$(cat "$RECORD")" = "$(cd "$2" && pwd -P)" ] || fail "$1: ran in $(cat "$RECORD")"
    no_windows
    rm -f "$RECORD"
    echo "PASS $1"
}

start_app E:
ran "audio CD" "$WORK/start in"
start_app f:
ran "autorun program" "$WORK/data"
# A run that starts a program and shows nothing never reaches for the display.
DISPLAY=:nowhere QT_QPA_PLATFORM=xcb start_app f:
ran "autorun program without a display" "$WORK/data"
start_app G:
win=$(wait_window "Disc Request")
: >"$WORK/empty/TRACK01.CDA"
press "$win" Return
ran "disc request" "$WORK/start in"
