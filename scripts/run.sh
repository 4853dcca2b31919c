#!/usr/bin/env bash
# Installs what is missing, builds Quillon and starts it. Arguments go to the program.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
quillon_install "${build_packages[@]}"
quillon_configure -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF
cmake --build "$QUILLON_BUILD_DIR" --target quillon
exec "$QUILLON_BUILD_DIR/app/quillon" "$@"
