#!/usr/bin/env bash
# Runs a command inside a Wine session: a private prefix, a persistent wineserver and, when there
# is no display (or JUV_XVFB=1), a private Xvfb. Whatever happens to the command, the wineserver
# (with every Wine process) and the Xvfb are ended before this script returns.
#
# WINEARCH=win32 (the default) is a 32-bit Windows in build/wineprefix; WINEARCH=win64 is a
# 64-bit one in build/wineprefix64, where the 32-bit program runs under WOW64 as on the PCs it
# is for. Both report Windows 10.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
export WINEARCH=${WINEARCH:-win32}
case "$WINEARCH" in
  win32) export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix} ;;
  win64) export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix64} ;;
  *)
    echo "wine-session: WINEARCH must be win32 or win64, not '$WINEARCH'" >&2
    exit 2
    ;;
esac
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ -z "${DISPLAY:-}" ] || [ "${JUV_XVFB:-0}" = 1 ]; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  # -displayfd picks a free display number and reports it, so parallel sessions never collide.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 30 display_number <"$fifo"
  rm -f "$fifo"
  if [ -z "${display_number:-}" ]; then
    echo "wine-session: Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$display_number"
fi

mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-session: creating the Wine prefix $WINEPREFIX (once)" >&2
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# Wine refuses a prefix of the other kind, and every command below would fail without a word.
if ! grep -qx "#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
  echo "wine-session: $WINEPREFIX is not a $WINEARCH prefix" >&2
  exit 1
fi
# A crashing program simply ends, with its exception code, as on a machine without a debugger.
# Without a Debugger entry Wine falls back to its own winedbg, which under an emulator can hang
# for good and keep the whole session alive; a debugger that cannot be started means none runs.
# A 64-bit Windows keeps a second entry for 32-bit programs, and this program is one.
views=("")
[ "$WINEARCH" = win32 ] || views=(/reg:64 /reg:32)
if [ ! -f "$WINEPREFIX/.juv-no-debugger-2" ]; then
  for view in "${views[@]}"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ \
      /d 'juv-no-crash-debugger.exe %ld %ld' /f $view >/dev/null 2>&1 || exit 1
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f \
      $view >/dev/null 2>&1 || exit 1
  done
  touch "$WINEPREFIX/.juv-no-debugger-2"
fi
# The program's users run Windows 10 or 11; a new prefix reports Windows 7.
if [ ! -f "$WINEPREFIX/.juv-win10" ]; then
  wine winecfg /v win10 </dev/null >/dev/null 2>&1 || exit 1
  touch "$WINEPREFIX/.juv-win10"
fi
# Wine's own fonts (its Tahoma, and Marlett for the caption buttons) are not always found in
# its data folder; the prefix's Fonts folder is always searched.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ -d /usr/share/wine/fonts ] && [ ! -f "$fonts/marlett.ttf" ]; then
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
fi
# Scratch folders a crashed or interrupted test run left in this prefix's temporary folder.
for leftover in "$WINEPREFIX"/drive_c/users/*/Temp/juv-*; do
  [ -e "$leftover" ] || continue
  chattr -R -i "$leftover" 2>/dev/null || true
  rm -rf "$leftover"
done
# The persistent wineserver must be the one that runs the session. A server started on demand
# by an earlier command lives on for a moment, and "wineserver -p" refuses to start beside it;
# the next program would then start a new server and Wine's services as its own children, and
# those hold that program's output pipe open long after it has ended.
started=""
for _ in 1 2 3 4 5; do
  wineserver -w >/dev/null 2>&1
  if wineserver -p >/dev/null 2>&1; then started=1; break; fi
  sleep 1
done
if [ -z "$started" ]; then
  echo "wine-session: could not start a persistent wineserver for $WINEPREFIX" >&2
  exit 1
fi
# Wine's own services start with the first program. Started here, with no terminal or pipe of
# the caller's, so that no test's output pipe is held open by them after the test has ended.
wine wineboot </dev/null >/dev/null 2>&1

"$@"
