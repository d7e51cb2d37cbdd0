#!/usr/bin/env bash
# Builds Quarvel and every test, and runs the tests under Wine on virtual displays.
#
# The tests run on two Windows machines side by side: each is a Wine prefix with its
# own wineserver (so its own process list and registry) on its own Xvfb display.
# Tests marked for the second machine find it through scripts/wine-test.sh; each
# machine runs one of its screen-sharing tests at a time. Only the first machine's
# tests use the host's memcached port.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages
build_all -DBUILD_TESTING=ON
start_virtual_display
first_display=$DISPLAY
start_virtual_display
export QUARVEL_LANE_B_DISPLAY=$DISPLAY
export DISPLAY=$first_display
export QUARVEL_LANE_B_PREFIX="$BUILD_DIR/wineprefix-b"
trap 'stop_wine_services; stop_wine_services "$QUARVEL_LANE_B_PREFIX"; stop_virtual_display' EXIT
ensure_prefix &
first=$!
ensure_prefix "$QUARVEL_LANE_B_PREFIX" &
second=$!
wait "$first"
wait "$second"
start_wine_services
DISPLAY=$QUARVEL_LANE_B_DISPLAY start_wine_services "$QUARVEL_LANE_B_PREFIX"
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j "${QUARVEL_TEST_JOBS:-3}" --timeout 300 "$@") || status=$?
exit $status
