#!/usr/bin/env bash
# Installs what is missing, builds Quillon and starts it. Arguments go to the program.
# Unless QLN_HOST names a cloud service already, a local quillon-cloud is started on
# 127.0.0.1 (port QUILLON_CLOUD_PORT, default 8787) when nothing listens there yet, and
# Quillon is pointed at it; a service started here stops when Quillon exits.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
quillon_install "${build_packages[@]}"
quillon_configure -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF
cmake --build "$QUILLON_BUILD_DIR" --target quillon quillon_cloud

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

if [ -z "${QLN_HOST:-}" ]; then
    port=${QUILLON_CLOUD_PORT:-8787}
    if ! listening "$port"; then
        log="$QUILLON_BUILD_DIR/quillon-cloud.log"
        "$QUILLON_BUILD_DIR/cloudservice/quillon-cloud" --listen "127.0.0.1:$port" >>"$log" 2>&1 &
        cloud_pid=$!
        trap 'kill "$cloud_pid" 2>/dev/null; wait "$cloud_pid" 2>/dev/null' EXIT
        for _ in $(seq 50); do
            listening "$port" && break
            kill -0 "$cloud_pid" 2>/dev/null || { echo "quillon-cloud did not start; see $log" >&2; exit 1; }
            sleep 0.2
        done
        echo "Cloud service: http://127.0.0.1:$port/ (browser console; registration codes in $log)"
    else
        echo "Cloud service: using the one already listening on 127.0.0.1:$port"
    fi
    export QLN_HOST="http://127.0.0.1:$port"
fi
"$QUILLON_BUILD_DIR/app/quillon" "$@"
