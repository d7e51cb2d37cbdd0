#!/usr/bin/env bash
# Builds Quarvel and every test, and runs the tests under Wine on a virtual display.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages
build_all -DBUILD_TESTING=ON
start_virtual_display
trap 'stop_wine_services; stop_virtual_display' EXIT
ensure_prefix
start_wine_services
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j "${QUARVEL_TEST_JOBS:-3}" --timeout 300 "$@") || status=$?
exit $status
