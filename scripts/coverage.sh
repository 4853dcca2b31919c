#!/usr/bin/env bash
# Line coverage of the product code by the tests: builds a Debug tree with --coverage,
# runs the tests and prints one line per library plus the total. Not part of the
# normal test run.
#   scripts/coverage.sh [ctest arguments, e.g. -R 'tst_(crc|xmodem)']
# QUILLON_COVERAGE_DIR picks the build folder (default: build-coverage in the tree).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUILLON_COVERAGE_DIR:-$ROOT/build-coverage}
command -v gcovr >/dev/null || { echo "coverage: gcovr is not installed" >&2; exit 1; }
export CCACHE_SLOPPINESS=pch_defines,time_macros

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage -O0" \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DQUILLON_BENCH=OFF >/dev/null
cmake --build "$BUILD"
find "$BUILD" -name '*.gcda' -delete
# Failing tests still leave their counts; the summary is printed either way.
status=0
(cd "$BUILD" && ctest --output-on-failure "$@") || status=$?

json="$BUILD/coverage-summary.json"
gcovr -r "$ROOT" --object-directory "$BUILD" --exclude "$ROOT/tests/" --exclude "$ROOT/bench/" \
    --exclude "$BUILD/" --json-summary "$json" >/dev/null 2>"$BUILD/gcovr.log"

# A library is a folder whose CMakeLists.txt adds one; a file belongs to the deepest such folder.
libraries=$(cd "$ROOT" && grep -lE 'quillon_add_(library|program)\(' --include=CMakeLists.txt -r . \
    | grep -vE '^\./(tests|bench)/' | sed -e 's|^\./||' -e 's|/\?CMakeLists.txt$||' | sort)
/usr/bin/python3 - "$json" $libraries <<'EOF'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
libraries = sorted(sys.argv[2:], key=len, reverse=True)
totals = {}
for f in files:
    owner = next((lib for lib in libraries if f["filename"].startswith(lib + "/")), None)
    if owner is None:
        continue
    covered, total = totals.get(owner, (0, 0))
    totals[owner] = (covered + f["line_covered"], total + f["line_total"])
def line(name, covered, total):
    percent = 100.0 * covered / total if total else 0.0
    print(f"{name:24} {percent:6.1f}%  {covered:6d} of {total:6d} lines")
for lib in sorted(totals):
    line(lib, *totals[lib])
line("total", sum(c for c, _ in totals.values()), sum(t for _, t in totals.values()))
EOF
exit $status
