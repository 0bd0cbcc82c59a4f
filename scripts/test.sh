#!/usr/bin/env bash
# Builds and runs every test: host unit tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a short while, the Windows side under Wine,
# and the release build (scripts/release-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${JUV_FUZZ_SECONDS:-10}

cmake --workflow --preset linux
cmake --workflow --preset linux-asan

cmake --preset fuzz -DJUV_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

scripts/wine-session.sh cmake --workflow --preset windows

# The release: the same bytes from two folders, and a signed release that verifies and runs.
scripts/release-check.sh
