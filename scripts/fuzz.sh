#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own tree and runs them within one
# total budget (FUZZ_TOTAL_SECONDS, default 180, shared evenly; FUZZ_SECONDS sets each
# target's time instead). Crashes, leaks and sanitizer reports fail.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FUZZ_DIR=${QUILLON_FUZZ_DIR:-$ROOT/build-fuzz}

if ! grep -rqs --include=CMakeLists.txt quillon_add_fuzzer "$ROOT/tests"; then
    echo "fuzz: no fuzz targets"
    exit 0
fi
export CCACHE_SLOPPINESS=pch_defines,time_macros
cmake -S "$ROOT" -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_FUZZ=ON >/dev/null
cmake --build "$FUZZ_DIR" --target fuzzers

targets=("$FUZZ_DIR"/fuzzers/*)
SECONDS_EACH=${FUZZ_SECONDS:-$(( ${FUZZ_TOTAL_SECONDS:-180} / ${#targets[@]} ))}
[ "$SECONDS_EACH" -ge 1 ] || SECONDS_EACH=1

status=0
for f in "${targets[@]}"; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="$FUZZ_DIR/corpus/$name"
    mkdir -p "$corpus"
    seeds="$ROOT/tests/fuzz-seeds/$name"
    [ -d "$seeds" ] || seeds=""
    echo "fuzz: $name for ${SECONDS_EACH}s"
    if ! "$f" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -print_final_stats=1 \
            "$corpus" $seeds > "$FUZZ_DIR/$name.log" 2>&1; then
        echo "fuzz: $name FAILED"
        tail -n 60 "$FUZZ_DIR/$name.log"
        status=1
    else
        grep -E 'stat::number_of_executed_units|cov:' "$FUZZ_DIR/$name.log" | tail -n 2
    fi
done
exit $status
