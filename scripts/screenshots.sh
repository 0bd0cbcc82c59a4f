#!/usr/bin/env bash
# Takes the README's pictures: each state a technician meets, on a Wine desktop in a private
# Xvfb, saved as docs/screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows --target screenshots
out=build/screenshots
rm -rf "$out" && mkdir -p "$out"
# Wine sees the Linux root as drive Z:.
windows_out="Z:$(pwd)/$out"
JUV_XVFB=1 scripts/wine-session.sh \
  wine explorer /desktop=Shots,1024x700 build/windows/bin/screenshots.exe "${windows_out//\//\\}" </dev/null
mkdir -p docs/screenshots
for bmp in "$out"/*.bmp; do
  convert "$bmp" "docs/screenshots/$(basename "${bmp%.bmp}").png"
done
ls docs/screenshots
