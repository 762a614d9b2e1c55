#!/usr/bin/env bash
# A disc's letter as a CD-ROM drive of the Wine prefix: the real tarvic starts a
# Windows probe on the disc through the real Wine in a private prefix (made once),
# cold and with a wine server running, on a folder drive and on an ext4 image
# through the real udisks2 stack. The probe must run from the disc's own letter, in
# its root, on a CD-ROM drive with the disc's label and the disc's \autorun.inf; a
# letter that Wine gave the disc is used; a letter of the user's is left alone; the
# documented removal puts the prefix back.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../whole/lib.sh"
. "$here/../stack/real_stack.sh"
: "${PROBE:?path of the probe program}" "${TARVIC_BUILD:?build folder}"
for need in wine wineserver wineboot; do command -v "$need" >/dev/null || fail "$need is missing (scripts/test installs Wine)"; done
for need in "$PROBE" "$TARVIC_BUILD/winedrive/winedrive-x86_64.exe"; do [ -f "$need" ] || fail "$need is missing (scripts/test installs mingw-w64)"; done

# Wine keeps its server's folder under TMPDIR.
export HOME="$WORK/home" WINEPREFIX="$WORK/prefix" XDG_STATE_HOME="$WORK/state" TMPDIR="$WORK/tmp"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export PROBE_REPORT="Z:$WORK/report"
mkdir -p "$HOME" "$TMPDIR"
dos="$WINEPREFIX/dosdevices"

# Only this prefix's server: wineserver finds it by WINEPREFIX.
stop_wine() { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
# A server that stays when its last program ends, as on a desktop where Wine runs.
start_wine() { stop_wine; wineserver -p || fail "wineserver did not start"; }
finish() {
    cd /
    stop_wine
    release_loops -- "$WORK/disc.img"
    real_stack_stop
    cleanup
}
trap finish EXIT

# What removal must give back: the prefix's letters and its Drives key.
prefix_state() {
    stop_wine
    find "$dos" -maxdepth 1 -name '*:*' -printf '%f -> %l\n' | sort
    sed -n '/^\[Software\\\\Wine\\\\Drives\]/,/^$/p' "$WINEPREFIX/system.reg" | grep '^"' || true
}

# probe WHAT LETTER LABEL AUTORUN: tarvic ran the disc's probe as LETTER:\probe.exe
# in LETTER:\, on a CD-ROM drive (5) labelled LABEL that is in GetLogicalDrives, and
# \autorun.inf holds AUTORUN
probe() {
    local what=$1 letter=$2 bit i want
    rm -f "$WORK/report"
    start_app E:
    # A cold Wine on a busy machine takes its time, twice: the helper, then the probe.
    for i in $(seq 1200); do
        [ -s "$WORK/report" ] && [ -s "$WORK/status" ] && break
        # A chooser or a message box waits for a user who never comes.
        [ $((i % 10)) -ne 0 ] || ! app_has_window || fail "$what: tarvic opened a window; $(cat "$WORK/out")"
        sleep 0.1
    done
    [ "$(cat "$WORK/status" 2>/dev/null)" = 0 ] || fail "$what: exit status; $(cat "$WORK/out")"
    APP_PID=
    [ -s "$WORK/report" ] || fail "$what: the probe did not report; $(cat "$WORK/out")"
    bit=$(printf '%x' $((1 << ($(printf '%d' "'$letter") - 65))))
    want=$(printf 'path=%s:\\probe.exe\nfolder=%s:\\\ntype=5\nlabel=%s\nautorun=%s\n' "$letter" "$letter" "$3" "$4")
    [ "$(head -n5 "$WORK/report")" = "$want" ] || fail "$what: the probe saw$(printf '\n%s' "$(cat "$WORK/report")")"
    [ $((0x$(sed -n 's/^drives=//p' "$WORK/report") & 0x$bit)) -ne 0 ] || fail "$what: $letter: is not in GetLogicalDrives"
    echo "PASS $what"
}

# The prefix, made once for the group (Wine takes a while the first time).
timeout 300 wineboot -i >"$WORK/wineboot.log" 2>&1 || fail "wineboot: $(tail -5 "$WORK/wineboot.log")"
before=$(prefix_state)

mkdir -p "$WORK/disc"
cp "$PROBE" "$WORK/disc/probe.exe"
printf '[autorun]\r\nopen=probe.exe\r\n' >"$WORK/disc/autorun.inf"
echo FOLDERDISC >"$WORK/disc/.windows-label"
map_drive E "$WORK/disc"
helper="$TARVIC_BUILD/winedrive/winedrive-x86_64.exe"

# A letter that Wine gave the disc itself (as it does an ISO image) is the disc's.
wine "$helper" define d "$(printf '%s' "$WORK/disc" | od -An -tx1 | tr -d ' \n')" || fail "defining D: as Wine would"
stop_wine
probe "a letter Wine made for the disc is used" D FOLDERDISC "[autorun]  open=probe.exe  "
[ ! -e "$dos/e:" ] || fail "E: was defined beside Wine's D:"
wine "$helper" remove d || fail "removing D:"
stop_wine

probe "a folder drive, no wine server running" E FOLDERDISC "[autorun]  open=probe.exe  "

start_wine
echo RELABELLED >"$WORK/disc/.windows-label"
probe "a folder drive, the server running, the new label" E RELABELLED "[autorun]  open=probe.exe  "
stop_wine

# A letter the user pointed elsewhere is theirs, though Tarvic once made it.
mkdir -p "$WORK/users"
ln -sfn "$WORK/users" "$dos/e:"
probe "the user's own e: is left alone" D RELABELLED "[autorun]  open=probe.exe  "
[ "$(readlink "$dos/e:")" = "$WORK/users" ] || fail "the user's e: now leads to $(readlink "$dos/e:")"
rm "$dos/e:"
echo "PASS the user's e: still leads to their folder"

# An ext4 image through the real udisks2 stack: the loop device goes with the letter.
real_stack_start || fail "the real udisks2 stack did not start"
trap finish EXIT
mkdir -p "$WORK/tree"
cp "$PROBE" "$WORK/tree/probe.exe"
printf '[AutoRun]\r\nopen=PROBE.EXE\r\n' >"$WORK/tree/AUTORUN.INF"
echo IMAGEDISC >"$WORK/tree/.windows-label"
make_ext4_image "$WORK/tree" "$WORK/disc.img" "WD$$" || fail "no image"
rm "$XDG_CONFIG_HOME/tarvic/drives/e:"
ln -s "$WORK/disc.img" "$XDG_CONFIG_HOME/tarvic/drives/e::"
probe "an ext4 image drive, no wine server running" E IMAGEDISC "[AutoRun]  open=PROBE.EXE  "
loop=$(losetup --noheadings --output NAME --associated "$WORK/disc.img" | head -n1)
[ "$(readlink "$dos/e::")" = "$loop" ] || fail "e:: leads to '$(readlink "$dos/e::")', not to $loop"
start_wine
probe "an ext4 image drive mounted before, the server running" E IMAGEDISC "[AutoRun]  open=PROBE.EXE  "
stop_wine
probe "an ext4 image drive mounted before, no wine server running" E IMAGEDISC "[AutoRun]  open=PROBE.EXE  "
stop_wine
umount "$(findmnt --noheadings --output TARGET --source "$loop")"
real_stack_stop
trap finish EXIT

# Removal as tarvic(1) documents it, for each letter the record holds.
record="$XDG_STATE_HOME/tarvic/wine-drives"
[ -s "$record" ] || fail "no record of the letters Tarvic made"
while IFS=$'\t' read -r letter _ prefix; do
    [ "$prefix" = "$WINEPREFIX" ] || continue
    wine "$helper" remove "$letter" || fail "removing $letter:"
    rm -f "$dos/$letter::"
done <"$record"
after=$(prefix_state)
[ "$after" = "$before" ] || fail "after removal the prefix holds$(printf '\n%s' "$after")
instead of$(printf '\n%s' "$before")"
echo "PASS removal leaves the prefix's letters and Drives key as they were"
