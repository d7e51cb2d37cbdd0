#!/usr/bin/env bash
# Builds Quarvel and its baseline, measures both side by side under Wine on a
# virtual display, prints the table and keeps it in bench/RESULTS.md.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

ensure_packages
build_all -DBUILD_TESTING=ON
start_virtual_display
trap 'stop_wine_services; stop_virtual_display' EXIT
ensure_prefix
start_wine_services

table=$("$WINE" "$BUILD_DIR/bin/quarvel_bench.exe" </dev/null 2>/dev/null | tr -d '\r')
echo "$table"
{
    echo "# Benchmark results"
    echo
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores of $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"
    echo "$(free -g | awk '/Mem:/ {print $2}') GiB, $(wine --version 2>/dev/null | head -1), under Xvfb. Each start-up and memory"
    echo "figure is the median of 7 alternating launches of Quarvel and the baseline (a bare window of the"
    echo "same size with a button and a label); min-max in brackets. Produced by \`bench/run.sh\`."
    echo
    echo "$table"
} > "$REPO/bench/RESULTS.md"
echo "written to bench/RESULTS.md"
