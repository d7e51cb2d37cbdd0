#!/usr/bin/env bash
# Draws Quarvel's icon (a blue tile with a stack of three server discs and a green
# "running" light) at 32x32 and 16x16 and writes app/quarvel.ico. The icon is
# checked in; run this only to change it. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

draw() {  # size, output
    local s=$1 out=$2
    local r=$((s / 6)) m=$((s * 3 / 16)) w=$((s - 2 * (s * 3 / 16)))
    local dh=$((s / 5)) gap=$((s / 16 > 0 ? s / 16 : 1))
    local args=(-size "${s}x${s}" xc:none -fill '#1f5fbf' -stroke '#123a75' -strokewidth 1
        -draw "roundrectangle 0,0 $((s - 1)),$((s - 1)) $r,$r" -stroke none)
    local y=$((s * 5 / 32))
    for _ in 1 2 3; do
        args+=(-fill '#e8eef8' -draw "roundrectangle $m,$y $((m + w - 1)),$((y + dh - 1)) $((dh / 3)),$((dh / 3))")
        args+=(-fill '#2fbf4f' -draw "rectangle $((m + w - 1 - dh / 2 - gap)),$((y + dh / 3)) $((m + w - 1 - gap)),$((y + dh - 1 - dh / 3))")
        y=$((y + dh + gap + s / 32))
    done
    convert "${args[@]}" "PNG32:$out"
}

draw 32 "$tmp/32.png"
draw 16 "$tmp/16.png"
convert "$tmp/32.png" "$tmp/16.png" app/quarvel.ico
echo "wrote app/quarvel.ico"
