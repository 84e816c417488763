#!/usr/bin/env bash
# Draws sorvik.ico once, with ImageMagick: a fading sound wave over a line on a blue tile, at 256,
# 48, 32 and 16 pixels. The icon is committed; the build never runs this.
# Usage: packaging/windows/make_icon.sh
set -euo pipefail
cd "$(dirname "$0")"
wave=$(python3 -c '
import math
points = []
for i in range(177):
    t = i / 176
    y = 128 + 70 * math.sin(t * 7 * math.pi) * math.exp(-2.2 * t) * (1 - math.exp(-30 * t))
    points.append(f"{40 + i},{y:.1f}")
print(" ".join(points))')
convert -size 256x256 xc:none -fill '#1f4e79' -draw 'roundrectangle 8,8 247,247 40,40' \
    -fill none -stroke '#ffffff' -strokewidth 14 \
    -draw "stroke-linecap round stroke-linejoin round polyline $wave" \
    -stroke '#7fc4ff' -strokewidth 10 -draw 'line 40,212 216,212' -depth 8 png32:- |
    convert png:- -define icon:auto-resize=256,48,32,16 sorvik.ico
