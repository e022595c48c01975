#!/usr/bin/env bash
# Draws the application icon (res/marvik_ac.ico): a green shield with a white
# check mark on a dark rounded tile, as six 32-bit images of 16 to 256 px.
# Needs ImageMagick; the result is committed, so a build does not.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none \
  -fill '#191923' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#3c9a5a' -stroke '#9be0b0' -strokewidth 6 \
  -draw 'path "M 128,34 L 206,62 C 206,140 180,190 128,222 C 76,190 50,140 50,62 Z"' \
  -fill none -stroke white -strokewidth 18 -draw 'stroke-linejoin round stroke-linecap round polyline 88,128 118,160 170,96' \
  "$tmp/master.png"
images=()
for size in 16 32 48 64 128 256; do
  convert "$tmp/master.png" -resize "${size}x${size}" -define png:color-type=6 "PNG32:$tmp/icon$size.png"
  images+=("$tmp/icon$size.png")
done
# Small sizes as 32-bit BMP entries, 256 as PNG (what Windows expects).
convert "${images[@]}" -define icon:format=bmp "$root/res/marvik_ac.ico"
identify "$root/res/marvik_ac.ico"
