#!/bin/sh
# A program of the sample discs: shows that it was started, without Wine.
name=$(basename "$0")
msg="Tarvic started $name from the sample disc in $(pwd)."
log="${TMPDIR:-/tmp}/tarvic-sample.log"
echo "$(date '+%Y-%m-%d %H:%M:%S') $name: $msg" >>"$log" 2>/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    if command -v xmessage >/dev/null 2>&1; then
        xmessage -center -title "Tarvic sample" "$msg" && exit 0
    fi
    if command -v zenity >/dev/null 2>&1; then
        zenity --info --title="Tarvic sample" --text="$msg" && exit 0
    fi
    if command -v kdialog >/dev/null 2>&1; then
        kdialog --title "Tarvic sample" --msgbox "$msg" && exit 0
    fi
    if command -v notify-send >/dev/null 2>&1; then
        notify-send "Tarvic sample" "$msg" && exit 0
    fi
fi
exit 0
