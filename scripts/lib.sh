# Shared by scripts/run and scripts/test: install what is missing, build.
# shellcheck shell=bash

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6 fonts-dejavu-core)
# x11-utils and openbox: a window manager and its frame extents for the windows' test;
# udisks2 to genisoimage: the real udisks2 stack of tests/stack and its images (systemd for busctl).
TEST_PACKAGES=(xvfb xdotool x11-utils openbox imagemagick desktop-file-utils dbus-daemon dbus udev udisks2 e2fsprogs
    systemd util-linux genisoimage)

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

# build_project DIR [cmake options...]
build_project() {
    local dir=$1
    shift
    cmake -S "$TOP" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
