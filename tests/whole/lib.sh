# Shared by the whole-program tests: a private X display, a private configuration
# home, and helpers to find windows and press keys.
# shellcheck shell=bash
set -euo pipefail

: "${TARVIC:?path of the tarvic binary}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-whole.XXXXXX")
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME/tarvic/drives"
# Where tarvic marks the drive it handles.
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
XVFB_PID= APP_PID= WM_PID=

cleanup() {
    # The program is the child of start_app's subshell; its pipes keep ctest waiting.
    [ -z "$APP_PID" ] || pkill -P "$APP_PID" 2>/dev/null || true
    for pid in $APP_PID $WM_PID $XVFB_PID; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# within TENTHS COMMAND... : runs the command every tenth of a second until it succeeds, at most TENTHS times
within() {
    local tenths=$1 i
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

start_display() {
    # Without -noreset the server resets whenever its last client leaves, and
    # the next program to connect during that reset is turned away.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
    XVFB_PID=$!
    within 100 test -s "$WORK/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$WORK/display")"
}

# start_window_manager : openbox frames the windows from now on, as a desktop would
start_window_manager() {
    openbox --sm-disable >"$WORK/wm.log" 2>&1 &
    WM_PID=$!
    within 100 eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' ||
        fail "openbox did not start: $(cat "$WORK/wm.log")"
}

# map_drive LETTER FOLDER
map_drive() {
    ln -sfn "$2" "$XDG_CONFIG_HOME/tarvic/drives/$(echo "$1" | tr 'A-Z' 'a-z'):"
}

# start_app ARGS... : runs tarvic in the background; its status lands in $WORK/status
start_app() {
    # A status left by the previous run would pass for this one's.
    rm -f "$WORK/status" "$WORK/out"
    ( set +e; "$TARVIC" "$@" >"$WORK/out" 2>&1; echo $? >"$WORK/status" ) &
    APP_PID=$!
}

# app_has_window : the program started by start_app shows a window
app_has_window() {
    local pid
    pid=$(pgrep -P "$APP_PID" 2>/dev/null | head -n1) || return 1
    [ -n "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null)" ]
}

# wait_window TITLE : prints the id of a visible window with exactly that title
wait_window() {
    local id title=$1
    within 150 eval 'id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1) && [ -n "$id" ]' ||
        fail "no window titled '$1'; windows: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|'); output: $(cat "$WORK/out" 2>/dev/null)"
    echo "$id"
}

# press WINDOW KEYS... : focuses the window and types the keys
press() {
    local id=$1
    shift
    xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
    sleep 0.2
    xdotool key --clearmodifiers "$@"
}

# wait_exit : waits for the program to end and prints its exit status
wait_exit() {
    within 150 test -s "$WORK/status" || fail "the program did not end; output: $(cat "$WORK/out")"
    cat "$WORK/status"
    APP_PID=
}

# no_windows : no window of the program is left
no_windows() { [ -z "$(xdotool search --onlyvisible --name . 2>/dev/null)" ] || fail "windows are left"; }

# wait_file PATH : waits until the file exists and is not empty
wait_file() { within 150 test -s "$1" || fail "$1 never appeared"; }

start_display
