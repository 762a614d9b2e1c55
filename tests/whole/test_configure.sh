#!/usr/bin/env bash
# "/c" shows the configuration window; what is typed is saved on Esc, and the next
# run on a video DVD starts the program saved for it.
. "$(dirname "$0")/lib.sh"

ini="$XDG_CONFIG_HOME/Halvane.ini"
player="$WORK/bin/record-player"
mkdir -p "$WORK/bin"
cat >"$player" <<'SCRIPT'
#!/bin/sh
printf '%s\n' "$@" >"$(dirname "$0")/../started.tmp"
mv "$(dirname "$0")/../started.tmp" "$(dirname "$0")/../started"
SCRIPT
chmod 755 "$player"

# 1. Type the player into the first box (the focus starts there) and press Esc.
start_app /c
win=$(wait_window "Program Configuration")
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
sleep 0.2
xdotool type --delay 10 "$player"
xdotool key --clearmodifiers Escape
status=$(wait_exit)
[ "$status" = 0 ] || fail "exit status $status; output: $(cat "$WORK/out")"
no_windows
[ -f "$ini" ] || fail "no $ini"
grep -qx '\[Tarvic\]' "$ini" || fail "no [Tarvic] group in: $(cat "$ini")"
grep -qxF "VideoDVD=$player" "$ini" || fail "VideoDVD not saved as typed: $(cat "$ini")"
for key in DVDSI AudioCD CDSI; do
    grep -qx "$key=" "$ini" || fail "$key not saved empty: $(cat "$ini")"
done
echo "PASS typed value saved on Esc"

# 2. A folder drive holding VIDEO_TS starts the saved player.
mkdir -p "$WORK/disc/VIDEO_TS"
map_drive E "$WORK/disc"
start_app E:
status=$(wait_exit)
[ "$status" = 0 ] || fail "exit status $status; output: $(cat "$WORK/out")"
wait_file "$WORK/started"
no_windows
echo "PASS video DVD starts the saved player"
