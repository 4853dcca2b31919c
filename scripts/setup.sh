#!/usr/bin/env bash
# Installs the Debian packages Quillon needs to build and test, then configures
# and builds the tree. Sourced by run.sh and test.sh.
set -euo pipefail

QUILLON_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUILLON_BUILD_DIR=${QUILLON_BUILD_DIR:-$QUILLON_ROOT/build}

build_packages=(cmake ninja-build ccache g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-5compat-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev fonts-dejavu-core
    fonts-wqy-microhei qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite
    libqt6sql6-psql qtkeychain-qt6-dev)
# Real peers the tests talk to, clang for the fuzz targets, a browser for the
# console pages, a database server, openssl for a test certificate and the packaging checks.
test_packages=(socat lrzsz ser2net python3 python3-serial python3-pymodbus mbpoll
    clang libclang-rt-14-dev gcovr postgresql chromium chromium-driver python3-selenium
    lintian desktop-file-utils appstream dpkg-dev fakeroot dbus gnome-keyring openssl)

quillon_install() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    else
        echo "Quillon needs packages that are not installed. Run:"
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}"
        exit 1
    fi
}

quillon_configure() {
    export CCACHE_SLOPPINESS=pch_defines,time_macros
    export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
    cmake -S "$QUILLON_ROOT" -B "$QUILLON_BUILD_DIR" -G Ninja "$@" >/dev/null
}
