#!/usr/bin/env bash
# Builds the program and starts it under Wine. With a display it simply runs until you close it.
# Without one (or with JUV_XVFB=1) it runs in a private Xvfb, saves build/screenshot.png once the
# install sequence has had its time, and closes the program again.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows >/dev/null
cmake --build --preset windows --target ZoroDerERIDovudi
program=build/windows/bin/ZoroDerERIDovudi.exe

if [ -n "${DISPLAY:-}" ] && [ "${JUV_XVFB:-0}" != 1 ]; then
  exec scripts/wine-session.sh wine "$program" "$@"
fi

export JUV_XVFB=1
scripts/wine-session.sh scripts/screenshot.sh build/screenshot.png "$program" "$@"
echo "screenshot: build/screenshot.png"
