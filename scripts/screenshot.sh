#!/usr/bin/env bash
# Inside a Wine session: starts a program on a Wine desktop (so its window gets a frame and a
# title bar), waits, and saves a picture of the screen. Usage: screenshot.sh OUT.png PROGRAM [ARGS]
set -euo pipefail
out=$1
shift
wait_seconds=${JUV_SCREENSHOT_WAIT:-12}
wine explorer /desktop=Installer,1024x700 "$@" >/dev/null 2>&1 &
sleep "$wait_seconds"
mkdir -p "$(dirname "$out")"
import -window root -crop 1024x700+0+0 +repage "$out"
