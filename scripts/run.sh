#!/usr/bin/env bash
# Builds Quarvel and runs it under Wine: on your display when there is one,
# otherwise on a virtual display, where a screenshot is saved and its path printed.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages
# The memcached.exe that runs the host's memcached is built with the tests; only it
# and Quarvel are built here, not the test programs.
cmake -S "$REPO" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-w64-x86_64.cmake" -DBUILD_TESTING=ON >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target Quarvel bridge_memcached

RUN_DIR="$BUILD_DIR/run"
mkdir -p "$RUN_DIR"
cp "$BUILD_DIR/bin/Quarvel.exe" "$RUN_DIR/"
# Quarvel's start button then runs a real memcached on 127.0.0.1:11211.
cp "$BUILD_DIR/bin/bridge_memcached.exe" "$RUN_DIR/memcached.exe"

virtual=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    virtual=1
    start_virtual_display
fi
trap 'stop_wine_services; stop_virtual_display' EXIT
ensure_prefix
start_wine_services

log "starting $RUN_DIR/Quarvel.exe"
(cd "$RUN_DIR" && exec "$WINE" Quarvel.exe) &
quarvel=$!

if [ "$virtual" -eq 1 ]; then
    shot="$RUN_DIR/quarvel-screenshot.png"
    for _ in $(seq 100); do
        xwininfo -root -tree 2>/dev/null | grep -q '"Quarvel - Dorvik"' && break
        sleep 0.1
    done
    sleep 1
    import -window root -crop 272x319+376+224 +repage "$shot"
    echo "screenshot: $shot"
    log "Quarvel closes itself after 30 seconds unless the window is touched"
fi
wait "$quarvel" || true
