#!/usr/bin/env bash
# The real program under X, as a user meets it: the "Disc Request" box answered by
# Enter, a run that starts a program without reaching for the display,
# the chooser driven by keys; then, under a window manager (openbox), both windows
# centred on the screen as a whole, frame and title bar included, also when the frame
# comes only after the window is shown. Leaves build/chooser.png,
# build/chooser-framed.png and build/configure-framed.png.
. "$(dirname "$0")/lib.sh"

mkdir -p "$WORK/start in" "$WORK/data" "$WORK/empty" "$WORK/disc"
# One script that writes down where it ran serves as the player and as the discs' programs.
printf '#!/bin/sh\npwd -P >"%s/ran.tmp" && mv "%s/ran.tmp" "%s/ran"\n' "$WORK" "$WORK" "$WORK" >"$WORK/run.sh"
chmod +x "$WORK/run.sh"
cp "$WORK/run.sh" "$WORK/data/setup.sh"
cp "$WORK/run.sh" "$WORK/disc/C:\\x.exe"
printf 'MZ' >"$WORK/disc/setup.exe"
printf '[autorun]\r\nopen=setup.sh\r\n' >"$WORK/data/autorun.inf"
printf '[Tarvic]\nAudioCD=%s\nCDSI=%s\n' "$WORK/run.sh" "$WORK/start in" >"$XDG_CONFIG_HOME/Halvane.ini"
for d in E:disc F:data G:empty; do map_drive "${d%:*}" "$WORK/${d#*:}"; done

# ran WHAT FOLDER : tarvic ended well, after starting a program in FOLDER
ran() {
    wait_file "$WORK/ran"
    [ "$(cat "$WORK/ran")" = "$(cd "$2" && pwd -P)" ] || fail "$1: ran in $(cat "$WORK/ran")"
    rm -f "$WORK/ran"
    echo "PASS $1"
}

# A run that starts a program and shows nothing never reaches for the display.
DISPLAY=:nowhere QT_QPA_PLATFORM=xcb start_app F:
[ "$(wait_exit)" = 0 ] || fail "no display: exit status; $(cat "$WORK/out")"
ran "autorun program without a display" "$WORK/data"
start_app G:
win=$(wait_window "Disc Request")
: >"$WORK/empty/track01.cda"
press "$win" Return
[ "$(wait_exit)" = 0 ] || fail "disc request: exit status; $(cat "$WORK/out")"
ran "disc request, Retry" "$WORK/start in"
no_windows

# Tabbed into the list, Home and Alt+R run the first program, C:\x.exe, in the drive's root.
start_app E:
win=$(wait_window Tarvic)
press "$win" Tab Tab Home
press "$win" alt+r
ran "the chooser's first program" "$WORK/disc"
import -window "$win" "${TARVIC_BUILD:-$WORK}/chooser.png" || fail "no screenshot"

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
# centred TITLE PNG : the framed window's middle is the screen's, to the pixel
centred() {
    local win l r t b X Y WIDTH HEIGHT i mid_x mid_y
    win=$(wait_window "$1")
    for i in $(seq 100); do
        IFS=', ' read -r l r t b < <(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //')
        read -r X Y WIDTH HEIGHT < <(xwininfo -id "$win" |
            awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}')
        mid_x=$(( 2 * (X - l) + WIDTH + l + r - screen_w ))   # twice the middle, to stay in whole numbers
        mid_y=$(( 2 * (Y - t) + HEIGHT + t + b - screen_h ))
        [ "${mid_x#-}" -le 2 ] && [ "${mid_y#-}" -le 2 ] && break
        sleep 0.1
    done
    [ "$t" -gt 0 ] || fail "$1 has no title bar: extents $l $r $t $b"
    import -window root "${TARVIC_BUILD:-$WORK}/$2" || fail "no screenshot"
    [ "${mid_x#-}" -le 2 ] && [ "${mid_y#-}" -le 2 ] ||
        fail "$1 framed at $((X - l)),$((Y - t)) size $((WIDTH + l + r))x$((HEIGHT + t + b)): not centred on ${screen_w}x$screen_h"
    press "$win" Escape
    [ "$(wait_exit)" = 0 ] || fail "no clean exit: $(cat "$WORK/out")"
}

# The chooser is still up: a window manager that frames it only now, as a slow or
# busy one does, has it centred again when its frame is known.
start_window_manager
centred Tarvic chooser-framed.png
start_app /c
centred "Program Configuration" configure-framed.png
