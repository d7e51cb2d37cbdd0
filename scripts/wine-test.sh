#!/bin/sh
# How CTest starts a test program: through the Wine loader given first, on the
# second machine that scripts/test.sh prepares when the test says QUARVEL_LANE=b
# and that machine exists, otherwise on the first.
loader=$1
shift
if [ "${QUARVEL_LANE:-}" = b ] && [ -n "${QUARVEL_LANE_B_PREFIX:-}" ] && [ -n "${QUARVEL_LANE_B_DISPLAY:-}" ]; then
    WINEPREFIX=$QUARVEL_LANE_B_PREFIX
    DISPLAY=$QUARVEL_LANE_B_DISPLAY
    export WINEPREFIX DISPLAY
fi
exec "$loader" "$@"
