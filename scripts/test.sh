#!/usr/bin/env bash
# Builds and runs every test: host unit tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a short while, the Windows side under Wine
# on a 32-bit and on a 64-bit Windows, and the release build (scripts/release-check.sh).
#
# The Windows tests spend most of their time waiting for the programs they start, so the two
# Windows prefixes run side by side, each with its own wineserver and Xvfb, and the host builds
# and tests run beside them at the lowest priority, on whatever the Wine side leaves idle: the
# programs under test get the processor whenever they want it, so their answer times are theirs.
# Each part writes to a log of its own, shown in full in a fixed order once all have ended.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fuzz_seconds=${JUV_FUZZ_SECONDS:-10}
logs=$root/build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

started=$SECONDS
stamp() { printf '[%4d s] %s\n' $((SECONDS - started)) "$*"; }

stamp "building the Windows side"
cmake --preset windows >/dev/null
cmake --build --preset windows

# The 64-bit prefix runs the same test programs from the same build; its own test folder keeps
# its ctest records apart from the 32-bit run's.
wow64=$root/build/windows-wow64
mkdir -p "$wow64"
printf 'subdirs("%s")\n' "$root/build/windows" >"$wow64/CTestTestfile.cmake"

host() {
  cmake --workflow --preset linux
  cmake --workflow --preset linux-asan
  cmake --preset fuzz -DJUV_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz
}

names=(windows-32 windows-64 host)
titles=("Windows tests on 32-bit Windows 10 (build/wineprefix)"
  "Windows tests on 64-bit Windows 10, under WOW64 (build/wineprefix64)"
  "Host unit tests, sanitizers, fuzz targets")
pids=()
stamp "running: ${titles[*]}"
WINEARCH=win32 scripts/wine-session.sh ctest --preset windows >"$logs/windows-32.log" 2>&1 &
pids+=($!)
# The program is 32-bit, so the same test programs run again on 64-bit Windows, under WOW64:
# the Windows every customer has.
WINEARCH=win64 scripts/wine-session.sh ctest --test-dir "$wow64" --output-on-failure --no-tests=error -j 2 \
  >"$logs/windows-64.log" 2>&1 &
pids+=($!)
(
  renice -n 19 -p "$BASHPID" >/dev/null
  host
) </dev/null >"$logs/host.log" 2>&1 &
pids+=($!)

# Whatever happens here, no part is left running.
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT

failed=()
for i in "${!names[@]}"; do
  if wait "${pids[$i]}"; then
    stamp "${names[$i]}: passed"
  else
    stamp "${names[$i]}: FAILED"
    failed+=("${names[$i]}")
  fi
done
trap - EXIT

for i in "${!names[@]}"; do
  echo
  echo "== ${titles[$i]}"
  cat "$logs/${names[$i]}.log"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "test: FAILED: ${failed[*]} (logs in build/test-logs)" >&2
  exit 1
fi

# The release: the same bytes from two folders, and a signed release that verifies and runs.
stamp "release check"
scripts/release-check.sh
stamp "all tests passed"
