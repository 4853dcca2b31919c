#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite, the
# bounded fuzz runs included, then builds the Debian package from the same tree and
# checks it. Exits non-zero on any failure.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
quillon_install "${build_packages[@]}" "${test_packages[@]}"
quillon_configure -DQUILLON_TESTS=ON -DQUILLON_BENCH=ON
cmake --build "$QUILLON_BUILD_DIR"

"$QUILLON_ROOT/scripts/fuzz.sh"

status=0
(cd "$QUILLON_BUILD_DIR" && ctest --output-on-failure --timeout 600 -j "${QUILLON_TEST_JOBS:-2}") || status=1
"$QUILLON_ROOT/scripts/package.sh" --check || status=1
exit $status
