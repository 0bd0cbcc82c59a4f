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
# Runs the runner in the Wine prefix of the given kind, with its arguments after the runs and
# the table's file; the table goes to that file.
measure() {
  local arch=$1 out=$2
  shift 2
  rm -f "$out"
  local windows_out="Z:$(pwd)/$out"
  # The desktop stays up while anything runs on it, so this waits for the table, not for it,
  # and watches the runner itself: once it has ended without a table, no table will come. Wine
  # names each process after its program (cut to 15 characters); only this session's prefix
  # counts, as other sessions may run a bench of their own. A runner that ends at once may
  # never be seen; then the desktop, with nothing left on it, closes, and "wine explorer" ends.
  WINEARCH=$arch JUV_XVFB=1 scripts/wine-session.sh bash -c '
    runner_running() {
      local pid
      for pid in $(pgrep "^bench_runner"); do
        tr "\0" "\n" 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
      done
      return 1
    }
    out=$1
    shift
    wine explorer /desktop=Bench,1024x768 build/windows/bin/bench_runner.exe "$@" </dev/null >/dev/null 2>&1 &
    desktop=$!
    seen=""
    while [ "$SECONDS" -lt 3600 ]; do
      [ -s "$out" ] && exit 0
      if runner_running; then
        seen=1
      elif [ -n "$seen" ] || ! kill -0 "$desktop" 2>/dev/null; then
        [ -s "$out" ] && exit 0
        echo "bench: the runner ended without writing its results" >&2; exit 1
      elif [ "$SECONDS" -ge 120 ]; then
        echo "bench: the runner did not start within 2 minutes" >&2; exit 1
      fi
      sleep 0.5
    done
    echo "bench: no results after an hour" >&2; exit 1' bench "$out" "$runs" "${windows_out//\//\\}" "$@"
}

# Everything on 32-bit Windows; the answer times again on 64-bit Windows, under WOW64, as on
# customers' PCs. Its rows join the table before the notes below it.
out=build/bench-table.md
out64=build/bench-table-64.md
measure win32 "$out"
measure win64 "$out64" answers
table=$(tr -d '\r' <"$out" | awk -v rows="$(tr -d '\r' <"$out64")" '!done && /^$/ { print rows; done = 1 } { print }')
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
