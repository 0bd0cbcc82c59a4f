#!/usr/bin/env bash
# make bench: builds what it needs, measures the installer against its baselines under Wine,
# prints the table and records it, with the date and the machine, in bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${JUV_BENCH_RUNS:-10}
cmake --preset windows >/dev/null
cmake --build --preset windows --target bench_runner
# On a Wine desktop, as on Windows: top-level windows of a bare X server without a window
# manager make Wine wait up to 2 s for each window to be withdrawn when it closes.
out=build/bench-table.md
rm -f "$out"
windows_out="Z:$(pwd)/$out"
# The desktop stays up while anything runs on it, so this waits for the table, not for it.
JUV_XVFB=1 scripts/wine-session.sh bash -c '
  wine explorer /desktop=Bench,1024x768 build/windows/bin/bench_runner.exe "$1" "$2" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 3600); do [ -s "$3" ] && exit 0; sleep 1; done
  echo "bench: no results after an hour" >&2; exit 1' bench "$runs" "${windows_out//\//\\}" "$out"
table=$(tr -d '\r' < "$out")
echo "$table"

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
emulated=""
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  emulated=" 32-bit code runs through $(qemu-i386 --version | head -1) (the kernel has no 32-bit support)."
fi
{
  echo "# Benchmark results"
  echo
  echo "Latest \`make bench\`, $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo
  echo "Machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $cpu; $(. /etc/os-release && echo "$PRETTY_NAME"),"
  echo "Linux $(uname -r), $(wine --version), Xvfb.$emulated"
  echo
  echo "$table"
  echo
  if [ -f bench/NOTES.md ]; then cat bench/NOTES.md; fi
} > bench/RESULTS.md
echo "written: bench/RESULTS.md"
