#!/usr/bin/env bash
# "/c": what is typed is saved on Esc into a hand-written settings file, which keeps
# every other line, and the next run on a video DVD starts it; the two pickers fill
# their boxes and leave nothing in the configuration folder; two windows open at
# once and a hand edit while they are open each keep the others' changes; a
# settings file that cannot be read ends the program after the error box, also
# after a Yes to "configure it now?".
. "$(dirname "$0")/lib.sh"
ini=$XDG_CONFIG_HOME/Halvane.ini
# A player whose name needs quotes in the file: it ends in a blank.
player="$WORK/bin/my \"player\" ;=#[x] "
mkdir -p "$WORK/bin" "$WORK/dvd/VIDEO_TS" "$WORK/cd" "$WORK/start in"
printf '#!/bin/sh\necho started >"%s"\n' "$WORK/started" >"$player" && chmod 755 "$player"
: >"$WORK/cd/track01.cda"
: >"$WORK/bin/other"
map_drive E "$WORK/dvd"
map_drive F "$WORK/cd"

other='; my settings\r\n[Other]\r\nPath=C:\\Windows\\x.exe\r\nList=a,b\r\nno equals sign\r\n\r\n'
# shellcheck disable=SC2059
printf "$other"'[Tarvic]\r\nAudioCD=G:\\p\\cd.exe\r\n' >"$ini"
start_app /c
win=$(wait_window "Program Configuration")
press "$win" ctrl+a
xdotool type --delay 10 "$player"
xdotool key --clearmodifiers Escape
[ "$(wait_exit)" = 0 ] || fail "the configuration ended badly: $(cat "$WORK/out")"
# shellcheck disable=SC2059
diff <(printf "$other"'[Tarvic]\r\nAudioCD=G:\\p\\cd.exe\r\nVideoDVD="%s"\r\nDVDSI=\r\nCDSI=\r\n' "$player") "$ini" \
    || fail "the settings file differs as shown"
start_app E:
[ "$(wait_exit)" = 0 ] || fail "the video DVD run ended badly: $(cat "$WORK/out")"
wait_file "$WORK/started"
echo "PASS typed player saved on Esc, every other line kept, started for a video DVD"

start_app /c
win=$(wait_window "Program Configuration")
press "$win" Tab Return
picker=$(wait_window "Choose a DVD Video Player Application")
press "$picker" ctrl+a
xdotool type --delay 10 "$WORK/bin/other"
xdotool key --clearmodifiers Return
press "$win" Tab Tab Return
picker=$(wait_window "Choose a folder for the DVD Video player application:")
press "$picker" ctrl+a
xdotool type --delay 10 "$WORK/start in"
xdotool key --clearmodifiers Return
press "$win" Escape
[ "$(wait_exit)" = 0 ] || fail "the configuration with pickers ended badly: $(cat "$WORK/out")"
grep -qxF "VideoDVD=$WORK/bin/other"$'\r' "$ini" || fail "the program picked is not saved: $(cat -A "$ini")"
grep -qxF "DVDSI=$WORK/start in"$'\r' "$ini" || fail "the folder picked is not saved: $(cat -A "$ini")"
[ "$(ls -A "$XDG_CONFIG_HOME" | tr '\n' ' ')" = "Halvane.ini tarvic " ] \
    || fail "the configuration folder holds: $(ls -A "$XDG_CONFIG_HOME")"
echo "PASS both pickers fill their boxes and leave nothing but Halvane.ini"

# Two windows open on one file, then a hand edit: each window saves only the box
# its user changed, every other key as the file holds it at that save.
printf '[Tarvic]\nVideoDVD=/old/dvd\nAudioCD=/old/cd\n' >"$ini"
"$TARVIC" /c >"$WORK/out-a" 2>&1 &
first=$!
win_a=$(wait_window "Program Configuration")
start_app /c
for _ in $(seq 150); do
    win_b=$(xdotool search --onlyvisible --name "^Program Configuration\$" 2>/dev/null | grep -vx "$win_a" | head -n1 || true)
    [ -n "$win_b" ] && break
    sleep 0.1
done
[ -n "$win_b" ] || fail "no second configuration window: $(cat "$WORK/out")"
printf '; edited by hand\n[Tarvic]\nVideoDVD=/hand/dvd\nAudioCD=/old/cd\nCDSI=/hand/cd si\n' >"$ini"
press "$win_a" ctrl+a
xdotool type --delay 10 "/a/dvd"
xdotool key --clearmodifiers Escape
wait "$first" || fail "the first window ended badly: $(cat "$WORK/out-a")"
press "$win_b" Tab Tab Tab Tab ctrl+a
xdotool type --delay 10 "/b/cd"
xdotool key --clearmodifiers Escape
[ "$(wait_exit)" = 0 ] || fail "the second window ended badly: $(cat "$WORK/out")"
diff <(printf '; edited by hand\n[Tarvic]\nVideoDVD=/a/dvd\nAudioCD=/b/cd\nCDSI=/hand/cd si\nDVDSI=\n') "$ini" \
    || fail "a window undid a change made elsewhere"
echo "PASS two windows and a hand edit at once: each change stays"

rm "$ini" && mkdir "$ini"
start_app /c
press "$(wait_window Error)" Return
[ "$(wait_exit)" = 0 ] || fail "/c with a folder for Halvane.ini ended badly: $(cat "$WORK/out")"
no_windows
echo "PASS /c ends after the error box when Halvane.ini is a folder"

rmdir "$ini"
start_app F:
question=$(wait_window "Audio CD")
mkdir "$ini"
press "$question" Return
press "$(wait_window Error)" Return
[ "$(wait_exit)" = 0 ] || fail "Yes with a folder for Halvane.ini ended badly: $(cat "$WORK/out")"
no_windows
echo "PASS a Yes to configure it now ends after the error box when Halvane.ini has become a folder"
