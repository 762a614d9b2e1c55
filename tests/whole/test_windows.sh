#!/usr/bin/env bash
# Both windows under a window manager (openbox): each is centred on the screen as a
# whole, title bar and frame included, also when the frame comes only after the
# window is shown. Leaves build/chooser-framed.png and build/configure-framed.png,
# the screen as a user sees it.
. "$(dirname "$0")/lib.sh"

disc=$(mktemp -d "$WORK/disc.XXXXXX")
printf 'MZ' >"$disc/setup.exe"
map_drive E "$disc"
read -r screen_w screen_h < <(xdotool getdisplaygeometry)

# centred TITLE PNG : the framed window's middle is the screen's, to the pixel
centred() {
    local win l r t b X Y WIDTH HEIGHT i mid_x mid_y
    win=$(wait_window "$1")
    for i in $(seq 50); do
        IFS=', ' read -r l r t b < <(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //')
        read -r X Y WIDTH HEIGHT < <(xwininfo -id "$win" |
            awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}')
        mid_x=$(( 2 * (X - l) + WIDTH + l + r ))   # twice the middle, to stay in whole numbers
        mid_y=$(( 2 * (Y - t) + HEIGHT + t + b ))
        [ $((mid_x - screen_w)) -ge -2 ] && [ $((mid_x - screen_w)) -le 2 ] &&
            [ $((mid_y - screen_h)) -ge -2 ] && [ $((mid_y - screen_h)) -le 2 ] && break
        sleep 0.1
    done
    [ "$t" -gt 0 ] || fail "$1 has no title bar: extents $l $r $t $b"
    import -window root "${TARVIC_BUILD:-$WORK}/$2" || fail "no screenshot"
    [ $((mid_x - screen_w)) -ge -2 ] && [ $((mid_x - screen_w)) -le 2 ] &&
        [ $((mid_y - screen_h)) -ge -2 ] && [ $((mid_y - screen_h)) -le 2 ] ||
        fail "$1 framed at $((X - l)),$((Y - t)) size $((WIDTH + l + r))x$((HEIGHT + t + b)): not centred on ${screen_w}x$screen_h"
    press "$win" Escape
    [ "$(wait_exit)" = 0 ] || fail "no clean exit: $(cat "$WORK/out")"
}

# A window manager that frames the window only once it is on the screen, as a slow
# or busy one does: the window is centred again when its frame is known.
start_app E:
wait_window Tarvic >/dev/null
start_window_manager
centred Tarvic chooser-framed.png
start_app /c
centred "Program Configuration" configure-framed.png
