#!/usr/bin/env bash
# "/c" under X with the real pickers: each fills its own box from what is typed into
# it, Esc saves them into a hand-written settings file that keeps its other lines, and
# the configuration folder holds nothing but Halvane.ini.
. "$(dirname "$0")/lib.sh"
ini=$XDG_CONFIG_HOME/Halvane.ini
mkdir -p "$WORK/bin" "$WORK/start in"
: >"$WORK/bin/player"
printf '; mine\r\n[Tarvic]\r\nAudioCD=G:\\p\\cd.exe\r\n' >"$ini"
start_app /c
win=$(wait_window "Program Configuration")
press "$win" Tab Return
picker=$(wait_window "Choose a DVD Video Player Application")
press "$picker" ctrl+a
xdotool type --delay 10 "$WORK/bin/player"
xdotool key --clearmodifiers Return
press "$win" Tab Tab Return
picker=$(wait_window "Choose a folder for the DVD Video player application:")
press "$picker" ctrl+a
xdotool type --delay 10 "$WORK/start in"
xdotool key --clearmodifiers Return
press "$win" Escape
[ "$(wait_exit)" = 0 ] || fail "the configuration ended badly: $(cat "$WORK/out")"
diff <(printf '; mine\r\n[Tarvic]\r\nAudioCD=G:\\p\\cd.exe\r\nVideoDVD=%s\r\nDVDSI=%s\r\nCDSI=\r\n' "$WORK/bin/player" "$WORK/start in") \
    "$ini" || fail "the settings file differs as shown"
[ "$(ls -A "$XDG_CONFIG_HOME" | tr '\n' ' ')" = "Halvane.ini tarvic " ] \
    || fail "the configuration folder holds: $(ls -A "$XDG_CONFIG_HOME")"
no_windows
echo "PASS both real pickers fill their boxes, Esc saves them keeping the other lines, and nothing else is left"
