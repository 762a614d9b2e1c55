# Shared by scripts/run, scripts/test and scripts/package: install what is missing, build.
# shellcheck shell=bash

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# mingw-w64: the Windows helper winedrive/ and the probe of the Wine tests, both 64- and 32-bit.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6 fonts-dejavu-core
    gcc-mingw-w64-x86-64 gcc-mingw-w64-i686)
# x11-utils and openbox: a window manager and its frame extents for the windows' test;
# udisks2 to util-linux: the real udisks2 stack of tests/stack and its images (systemd for its udevd
# and systemd-analyze, which looks up the user unit's manual page with man-db);
# wine and wine64: the Wine drive group (tests/wine); acl and attr: a saved file keeps its ACL and attributes;
# libglib2.0-bin: gio launch of the installed desktop entry.
TEST_PACKAGES=(xvfb xdotool x11-utils openbox imagemagick desktop-file-utils dbus-daemon dbus udev udisks2 e2fsprogs
    systemd util-linux man-db wine wine64 acl attr libglib2.0-bin)
# udiskie: the peer automounter that bench/bench_autorun.sh measures tarvic-watch against.
BENCH_PACKAGES=(udiskie)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
PACKAGE_PACKAGES=(dpkg-dev file lintian appstream)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# cache_value DIR NAME : a variable of DIR's CMake cache, empty when there is none
cache_value() {
    [ -f "$1/CMakeCache.txt" ] || return 0
    sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n1
}

# cache_on DIR NAME : whether a cache variable of DIR is true in CMake's sense
cache_on() {
    case "$(cache_value "$1" "$2" | tr '[:lower:]' '[:upper:]')" in
    1 | ON | YES | TRUE | Y) return 0 ;;
    *) return 1 ;;
    esac
}

# set_aside DIR WHY : moves a build folder that cannot be reused out of the way; nothing is deleted
set_aside() {
    local aside
    aside="$1-set-aside-$(date +%Y%m%d-%H%M%S)"
    echo "$1 $2; moving it to $aside"
    mv "$1" "$aside"
}

# configure_project DIR [cmake options...]
# A new folder gets Ninja. A folder configured before keeps its generator and every
# option it has (a user may have made it with CMake's default generator, a compiler
# of their own, another build type); the options given here are set on top. A
# folder configured for another source tree, or for several configurations at
# once, is set aside.
configure_project() {
    local dir=$1
    shift
    local home
    home=$(cache_value "$dir" CMAKE_HOME_DIRECTORY)
    if [ -n "$home" ] && [ "$(realpath -m "$home")" != "$(realpath "$TOP")" ]; then
        set_aside "$dir" "was configured for $home, not for $TOP"
    fi
    case "$(cache_value "$dir" CMAKE_GENERATOR)" in
    *Multi-Config | Xcode | Visual*)
        # Those put the program in a folder per configuration, not at build/tarvic.
        set_aside "$dir" "holds several configurations ($(cache_value "$dir" CMAKE_GENERATOR))"
        ;;
    esac
    local generator
    generator=$(cache_value "$dir" CMAKE_GENERATOR)
    case "$generator" in
    "") set -- -G Ninja "$@" ;;
    Ninja*) ensure_packages ninja-build ;;
    "Unix Makefiles") ensure_packages make ;;
    esac
    cmake -S "$TOP" -B "$dir" "$@" >/dev/null
    if ! cache_on "$dir" BUILD_TESTING && ! cache_on "$dir" TARVIC_FUZZ; then
        # With tests off CMake writes no test lists (the fuzzers' own tests keep them
        # written), and those of an earlier configuration would have ctest run test
        # programs that are no longer built.
        find "$dir" -name CTestTestfile.cmake -delete
    fi
}

# build_project DIR [cmake options...] : configures DIR and builds all of it, so that
# no program in it, test programs included, is older than the sources.
build_project() {
    local dir=$1
    configure_project "$@"
    cmake --build "$dir" -j"$(nproc)"
}
