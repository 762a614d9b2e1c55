#!/usr/bin/env bash
# "/c": what is typed is saved on Esc, and the next run on a video DVD starts it.
. "$(dirname "$0")/lib.sh"
player=$WORK/bin/player
mkdir -p "$WORK/bin" "$WORK/disc/VIDEO_TS"
printf '#!/bin/sh\necho started >"%s"\n' "$WORK/started" >"$player" && chmod 755 "$player"
start_app /c
win=$(wait_window "Program Configuration")
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
sleep 0.2
xdotool type --delay 10 "$player"
xdotool key --clearmodifiers Escape
[ "$(wait_exit)" = 0 ] || fail "the configuration ended badly: $(cat "$WORK/out")"
diff <(printf '[Tarvic]\nAudioCD=\nCDSI=\nDVDSI=\nVideoDVD=%s\n' "$player") <(grep . "$XDG_CONFIG_HOME/Halvane.ini") || fail "the settings file differs as shown"
map_drive E "$WORK/disc"
start_app E:
[ "$(wait_exit)" = 0 ] || fail "the video DVD run ended badly: $(cat "$WORK/out")"
wait_file "$WORK/started"
echo "PASS typed player saved on Esc and started for a video DVD"
