#!/usr/bin/env bash
# Installs into a fresh prefix (the default GNU folders), launches the installed entry
# as a desktop does, and removes by the manifest; no display needed.
set -euo pipefail
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-install.XXXXXX")
home=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-launch.XXXXXX")
manifest=${TARVIC_BUILD:?the build folder}/install_manifest.txt
# cmake --install rewrites the build's manifest; a real installation's must survive.
[ -f "$manifest" ] && cp "$manifest" "$prefix.saved"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarvic-install-run.XXXXXX")   # what the installed programs write
trap 'if [ -f "$prefix.saved" ]; then mv -f "$prefix.saved" "$manifest"; else rm -f "$manifest"; fi; stop_launched; rm -rf "$prefix" "$home" "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# A tarvic that the launches below left waiting (in a box nobody sees), by its process id.
stop_launched() {
    for pid in $(pgrep -x tarvic); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "XDG_CONFIG_HOME=$home/config" && kill "$pid" 2>/dev/null
    done; true
}
cmake --install "$TARVIC_BUILD" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
expected=$(printf '%s\n' bin/tarvic share/man/man1/tarvic.1 share/applications/tarvic{,-configure}.desktop \
    share/solid/actions/tarvic.desktop \
    share/icons/hicolor/{16x16,32x32}/apps/tarvic.png share/icons/hicolor/scalable/apps/tarvic.svg \
    bin/tarvic-watch share/man/man1/tarvic-watch.1 lib/systemd/user/tarvic-watch.service \
    etc/xdg/autostart/tarvic-watch.desktop share/metainfo/com.halvane.tarvic.metainfo.xml \
    lib/tarvic/winedrive-{x86_64,i686}.exe | LC_ALL=C sort)
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed" = "$expected" ] && [ -x "$prefix/bin/tarvic" ] && [ -x "$prefix/bin/tarvic-watch" ] ||
    fail "installed: $installed"
for entry in "$prefix"/share/{applications,solid/actions}/*.desktop "$prefix"/etc/xdg/autostart/*.desktop; do
    report=$(desktop-file-validate "$entry" 2>&1) && [ -z "$report" ] || fail "$entry: $report"
done
[ "$(grep -h '^Exec=' "$prefix"/share/{applications/tarvic{,-configure},solid/actions/tarvic}.desktop | sort -u)" = \
    $'Exec=tarvic %f\nExec=tarvic /c' ] || fail "the entries do not start the installed tarvic as they should"

# A desktop hands the entry a medium's folder, as GNOME's file manager does; each
# disc's program says which disc it came from. D: is disc A, E: disc B; disc C is
# in no map, and without a folder the entry handles D:.
export XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME/tarvic/drives" && mkdir -m 700 "$XDG_RUNTIME_DIR"
for disc in A B 'C ü'; do
    mkdir "$home/disc $disc" && printf '[autorun]\nopen=run\n' >"$home/disc $disc/autorun.inf"
    printf '#!/bin/sh\necho "%s" >>"%s"\n' "$disc" "$home/started" >"$home/disc $disc/run" && chmod +x "$home/disc $disc/run"
done
ln -s "$home/disc A" "$XDG_CONFIG_HOME/tarvic/drives/d:"
ln -s "$home/disc B" "$XDG_CONFIG_HOME/tarvic/drives/e:"
launched() {
    rm -f "$home/started"
    PATH="$prefix/bin:$PATH" gio launch "$prefix/share/applications/tarvic.desktop" "$@" >"$home/gio.out" 2>"$home/gio.err" ||
        fail "gio launch $*: $(cat "$home/gio.err")"
    for _ in $(seq 150); do [ -s "$home/started" ] && break; sleep 0.1; done
    sleep 0.5   # a second start would show by now
    cat "$home/started" 2>/dev/null || true
}
for disc in B 'C ü'; do
    [ "$(launched "$home/disc $disc")" = "$disc" ] || fail "launched for disc $disc, started: $(cat "$home/started" 2>/dev/null)"
done
[ "$(launched)" = A ] || fail "launched with no folder, started: $(cat "$home/started" 2>/dev/null)"
# The watcher is off until the user turns it on, and then starts the installed program.
grep -qx 'Hidden=true' "$prefix/etc/xdg/autostart/tarvic-watch.desktop" || fail "the autostart entry is not off"
grep -qx "ExecStart=$prefix/bin/tarvic-watch" "$prefix/lib/systemd/user/tarvic-watch.service" ||
    fail "the user unit does not start the installed watcher: $(cat "$prefix/lib/systemd/user/tarvic-watch.service")"
# The unit as systemd reads it (a private runtime folder: no user manager is asked),
# its manual page found where it was installed.
unit=$prefix/lib/systemd/user/tarvic-watch.service
chmod 700 "$scratch"
report=$(XDG_RUNTIME_DIR=$scratch MANPATH=$prefix/share/man systemd-analyze --user verify "$unit" 2>&1) &&
    [ -z "$report" ] || fail "systemd-analyze verify: $report"
# Pulled in by a graphical session only, and stopped with it.
grep -qx 'WantedBy=graphical-session.target' "$unit" && grep -qx 'PartOf=graphical-session.target' "$unit" &&
    ! grep -q 'default.target' "$unit" || fail "the unit is not bound to the graphical session: $(cat "$unit")"
# A second watcher (the unit beside the autostart entry) ends in a way the unit does not restart.
XDG_RUNTIME_DIR=$scratch XDG_CONFIG_HOME=$scratch/config DBUS_SYSTEM_BUS_ADDRESS=unix:path=$scratch/no-bus \
    "$prefix/bin/tarvic-watch" 2>"$scratch/first.log" &
first=$!
for _ in $(seq 100); do [ -s "$scratch/first.log" ] && break; sleep 0.1; done
status=0
XDG_RUNTIME_DIR=$scratch timeout 10 "$prefix/bin/tarvic-watch" 2>"$scratch/second.log" || status=$?
kill "$first" 2>/dev/null || true; wait "$first" || true
grep -q 'another tarvic-watch is running' "$scratch/second.log" || fail "second watcher: $(cat "$scratch"/*.log)"
restart=$(sed -n 's/^Restart=//p' "$unit")
case "$status:$restart" in
    0:on-success | 0:always | [1-9]*:on-failure | [1-9]*:always)
        grep -qx "RestartPreventExitStatus=.*\b$status\b.*" "$unit" ||
            fail "the unit (Restart=$restart) restarts a second watcher, which ends with status $status" ;;
esac
[ "$(LC_ALL=C sort "$manifest")" = "$(sed "s|^|$prefix/|" <<<"$expected")" ] || fail "manifest: $(cat "$manifest")"
xargs -d '\n' rm -f <"$manifest"
[ -z "$(find "$prefix" ! -type d)" ] || fail "left after removal by the manifest: $(find "$prefix" ! -type d)"
