#!/usr/bin/env bash
# Builds and runs every test: host unit tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a short while, the Windows side under Wine
# on a 32-bit and on a 64-bit Windows, and the release build (scripts/release-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${JUV_FUZZ_SECONDS:-10}

cmake --workflow --preset linux
cmake --workflow --preset linux-asan

cmake --preset fuzz -DJUV_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

echo "== Windows tests on 32-bit Windows 10 (build/wineprefix)"
WINEARCH=win32 scripts/wine-session.sh cmake --workflow --preset windows
# The program is 32-bit, so the same test programs run again on 64-bit Windows, under WOW64:
# the Windows every customer has.
echo "== Windows tests on 64-bit Windows 10, under WOW64 (build/wineprefix64)"
WINEARCH=win64 scripts/wine-session.sh ctest --preset windows

# The release: the same bytes from two folders, and a signed release that verifies and runs.
scripts/release-check.sh
