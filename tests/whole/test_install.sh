#!/usr/bin/env bash
# Installing into a fresh prefix puts the program, the icons, both desktop entries
# and the manual page where desktops and man look for them; the entries and the
# page pass their checkers, and the install manifest removes exactly what came.
# Needs no display, so lib.sh (which starts one) is not used.
set -euo pipefail

: "${TARVIC_BUILD:?the build folder}"
: "${TARVIC_SOURCE:?the source folder}"

PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-install.XXXXXX")
MANIFEST="$TARVIC_BUILD/install_manifest.txt"
SAVED_MANIFEST="$PREFIX.manifest"
# cmake --install rewrites the build's manifest; a real installation's own must
# survive this test, since it is what uninstalling reads.
had_manifest=0
if [ -f "$MANIFEST" ]; then
    cp "$MANIFEST" "$SAVED_MANIFEST"
    had_manifest=1
fi
cleanup() {
    if [ "$had_manifest" = 1 ]; then
        mv -f "$SAVED_MANIFEST" "$MANIFEST"
    else
        rm -f "$MANIFEST"
    fi
    rm -rf "$PREFIX" "$PREFIX.installed"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A GNUInstallDirs folder as the build has it, inside the prefix.
dir_of() {
    local value
    value=$(sed -n "s/^$1:[A-Z]*=//p" "$TARVIC_BUILD/CMakeCache.txt" | head -n1)
    [ -n "$value" ] || value=$2
    case $value in
        /*) echo "$value" ;;
        *) echo "$PREFIX/$value" ;;
    esac
}

# png_size FILE : prints WIDTHxHEIGHT from the PNG header
png_size() {
    local b
    read -r -a b <<<"$(od -An -tu1 -j16 -N8 "$1" | tr '\n' ' ')"
    echo "$((b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]))x$((b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]))"
}

cmake --install "$TARVIC_BUILD" --prefix "$PREFIX" >"$PREFIX/.install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$PREFIX/.install.log")"
rm -f "$PREFIX/.install.log"
cp "$MANIFEST" "$PREFIX.installed"

bindir=$(dir_of CMAKE_INSTALL_BINDIR bin)
datadir=$(dir_of CMAKE_INSTALL_DATADIR share)
mandir=$(dir_of CMAKE_INSTALL_MANDIR share/man)
icons=$datadir/icons/hicolor
apps=$datadir/applications

# The program.
if [ ! -f "$bindir/tarvic" ] || [ ! -x "$bindir/tarvic" ]; then
    fail "no executable $bindir/tarvic"
fi
echo "PASS program"

# The icons, each at its own size.
for size in 16 32; do
    png=$icons/${size}x${size}/apps/tarvic.png
    [ -f "$png" ] || fail "no $png"
    [ "$(head -c8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
    got=$(png_size "$png")
    [ "$got" = "${size}x${size}" ] || fail "$png is $got"
done
svg=$icons/scalable/apps/tarvic.svg
[ -f "$svg" ] || fail "no $svg"
grep -q '<svg' "$svg" || fail "$svg is not an SVG drawing"
echo "PASS icons"

# The desktop entries: valid, and naming the installed program and icon.
command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing (package desktop-file-utils)"
for entry in tarvic.desktop tarvic-configure.desktop; do
    file=$apps/$entry
    [ -f "$file" ] || fail "no $file"
    report=$(desktop-file-validate "$file" 2>&1) || fail "$entry: $report"
    [ -z "$report" ] || fail "$entry: $report"
    grep -qx 'Icon=tarvic' "$file" || fail "$entry: the icon is not tarvic"
    program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$file")
    [ -x "$bindir/$program" ] || fail "$entry: Exec names $program, which was not installed"
done
grep -qx 'Exec=tarvic /c' "$apps/tarvic-configure.desktop" || fail "the configuration entry does not pass /c"
for type in x-content/audio-cdda x-content/video-dvd x-content/unix-software x-content/win32-software; do
    grep '^MimeType=' "$apps/tarvic.desktop" | tr '=;' '\n' | grep -qx "$type" ||
        fail "tarvic.desktop does not offer itself for $type"
done
echo "PASS desktop entries"

# The manual page: clean under groff's warnings, and it lists every error number
# the program can report.
page=$mandir/man1/tarvic.1
[ -f "$page" ] || fail "no $page"
if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"
    text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
    errors=$(printf '%s\n' "$text" | sed -n '/^ERRORS/,/^[A-Z]/p')
    numbers=$(sed -n 's/^ *constexpr int [A-Za-z]* = \([0-9]*\);.*/\1/p' "$TARVIC_SOURCE/platform/runtime_error.h")
    [ -n "$numbers" ] || fail "no error numbers found in platform/runtime_error.h"
    for n in $numbers; do
        printf '%s\n' "$errors" | grep -qE "^ +$n( |$)" || fail "the manual page's ERRORS section lacks $n"
    done
    for key in AudioCD CDSI VideoDVD DVDSI; do
        printf '%s\n' "$text" | grep -qw "$key" || fail "the manual page does not describe the setting $key"
    done
    echo "PASS manual page"
else
    [ -s "$page" ] || fail "$page is empty"
    echo "SKIP manual page check: groff is not installed (package groff-base)"
fi

# Removing what the manifest lists leaves no file behind.
while IFS= read -r f; do
    [ -e "$f" ] || [ -L "$f" ] || fail "the manifest lists $f, which is not there"
done <"$PREFIX.installed"
xargs -d '\n' rm -f <"$PREFIX.installed"
left=$(find "$PREFIX" ! -type d)
[ -z "$left" ] || fail "left after removing the manifest's files: $left"
echo "PASS removal by manifest"
