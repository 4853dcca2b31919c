#!/usr/bin/env bash
# Makes quillon_<version>_amd64.deb from the build tree (the one the tests built, when it
# exists, so nothing is compiled twice) and checks it: lintian shows no errors, the
# desktop entry and the metainfo validate, and the programs run from an unpacked root.
#   scripts/package.sh            build the package into build/
#   scripts/package.sh --check    also check it (CI does)
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
quillon_install "${build_packages[@]}" dpkg-dev fakeroot lintian desktop-file-utils appstream
if [ ! -f "$QUILLON_BUILD_DIR/CMakeCache.txt" ]; then
    quillon_configure -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF
fi
cmake --build "$QUILLON_BUILD_DIR"
cd "$QUILLON_BUILD_DIR"
rm -f quillon_*_amd64.deb
cpack -G DEB >/dev/null
deb=$(ls quillon_*_amd64.deb)
echo "package: $QUILLON_BUILD_DIR/$deb"
[ "${1:-}" = "--check" ] || exit 0

status=0
check() { # name, command...
    local name=$1; shift
    if "$@" >"$QUILLON_BUILD_DIR/package-check.log" 2>&1; then
        echo "package: $name ok"
    else
        echo "package: $name FAILED"; cat "$QUILLON_BUILD_DIR/package-check.log"; status=1
    fi
}
lintian_run() { lintian --fail-on error --no-tag-display-limit "$deb"; }
check "lintian (no errors)" lintian_run
lintian "$deb" | sed 's/^/  lintian: /' || true

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
check "desktop entry" desktop-file-validate "$root/usr/share/applications/io.quillon.Quillon.desktop"
check "metainfo" appstreamcli validate --no-net "$root/usr/share/metainfo/io.quillon.Quillon.metainfo.xml"
for program in "$root"/usr/bin/*; do
    check "$(basename "$program") --help" "$program" --help
done
check "quillon --version" "$root/usr/bin/quillon" --version

# The installed program draws its window, offscreen, with a configuration folder preset
# so that no first-run dialog waits.
home=$root/home
mkdir -p "$home/.config/VORTANE"
printf '[General]\nCONFIG_FILE_PATH=%s/cfg\n' "$home" >"$home/.config/VORTANE/Quillon.conf"
screenshot() {
    HOME=$home XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=offscreen QLN_HOST=http://127.0.0.1:9 \
        timeout 60 "$root/usr/bin/quillon" --screenshot "$root/shot.png" && [ -s "$root/shot.png" ]
}
check "quillon --screenshot" screenshot
echo "package: contents"
dpkg-deb -c "$deb" | awk '{print "  " $6}'
exit $status
