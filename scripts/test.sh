#!/usr/bin/env bash
# Builds and runs every test: host unit tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a short while, and the Windows side under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${JUV_FUZZ_SECONDS:-10}

cmake --workflow --preset linux
cmake --workflow --preset linux-asan

cmake --preset fuzz -DJUV_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

scripts/wine-session.sh cmake --workflow --preset windows
