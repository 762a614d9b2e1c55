#!/usr/bin/env bash
# The real program on folder drives: an audio CD starts the configured player in
# its start-in folder; a disc's autorun.inf starts its program in the drive's root;
# an empty drive asks for a disc until one is in.
. "$(dirname "$0")/lib.sh"

# A player that writes down where it was started, and with what.
player="$WORK/tools/my player.sh"
mkdir -p "$WORK/tools" "$WORK/start in"
cat >"$player" <<'SH'
#!/bin/sh
pwd -P >"$RECORD.tmp"
echo "$#" >>"$RECORD.tmp"
mv "$RECORD.tmp" "$RECORD"
SH
chmod +x "$player"
cat >"$XDG_CONFIG_HOME/Halvane.ini" <<INI
[Tarvic]
AudioCD=$player
CDSI=$WORK/start in
INI

# Audio CD: no window at all, the player runs in its start-in folder, the program ends.
mkdir -p "$WORK/cd"
: >"$WORK/cd/track01.cda"
map_drive E "$WORK/cd"
export RECORD="$WORK/played"
start_app E:
status=$(wait_exit)
[ "$status" = 0 ] || fail "audio CD: exit status $status; $(cat "$WORK/out")"
wait_file "$RECORD"
[ "$(head -n1 "$RECORD")" = "$(cd "$WORK/start in" && pwd -P)" ] || fail "audio CD: player ran in $(head -n1 "$RECORD")"
[ "$(sed -n 2p "$RECORD")" = 0 ] || fail "audio CD: player got arguments"
echo "PASS audio CD"

# A disc whose autorun.inf names a program on it.
mkdir -p "$WORK/data/Bin"
printf '[AutoRun]\r\nopen=bin\\install.sh\r\n' >"$WORK/data/AUTORUN.INF"
cp "$player" "$WORK/data/Bin/Install.sh"
map_drive F "$WORK/data"
export RECORD="$WORK/installed"
start_app f:
status=$(wait_exit)
[ "$status" = 0 ] || fail "autorun: exit status $status; $(cat "$WORK/out")"
wait_file "$RECORD"
[ "$(head -n1 "$RECORD")" = "$(cd "$WORK/data" && pwd -P)" ] || fail "autorun: program ran in $(head -n1 "$RECORD")"
echo "PASS autorun program"

# An empty drive: the request repeats until the disc is in, then the dispatch goes on.
mkdir -p "$WORK/empty"
map_drive G "$WORK/empty"
export RECORD="$WORK/late"
start_app G:
win=$(wait_window "Disc Request")
press "$win" Return
sleep 0.5
win=$(wait_window "Disc Request")
: >"$WORK/empty/TRACK01.CDA"
press "$win" Return
status=$(wait_exit)
[ "$status" = 0 ] || fail "disc request: exit status $status; $(cat "$WORK/out")"
wait_file "$RECORD"
no_windows
echo "PASS disc request"

# Cancel at the request ends the program with nothing started.
rm -f "$WORK/empty/TRACK01.CDA" "$RECORD"
start_app G:
win=$(wait_window "Disc Request")
press "$win" Escape
status=$(wait_exit)
[ "$status" = 0 ] || fail "cancel: exit status $status"
[ ! -e "$RECORD" ] || fail "cancel started the player"
no_windows
echo "PASS disc request cancelled"
