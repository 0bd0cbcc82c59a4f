#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12. Safe to run again: it only asks
# apt for what is missing, enables the i386 architecture (Wine's 32-bit part) once, and sets up
# 32-bit emulation only on kernels that cannot run 32-bit programs themselves. wine64 beside
# wine32 gives the 64-bit prefix, where the 32-bit program runs under WOW64 as on customers' PCs.
set -euo pipefail

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine64 fonts-wine xvfb xauth imagemagick x11-utils
  python3 procps
  osslsigncode openssl ca-certificates
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

# A package mirror in the middle of a sync serves indexes that do not match their signed
# release file ("File has unexpected size ... Mirror sync in progress?"), and apt-get update
# fails. That usually clears within minutes, so the update is tried a few times; if it still
# fails, the install goes on with the indexes apt has, which is often enough. apt's signature
# and hash checks stay on: a mismatched index is never used.
update_tries=${JUV_APT_UPDATE_TRIES:-4}
update_pause=${JUV_APT_UPDATE_PAUSE:-20}
failed_indexes=""
# Updates the package indexes, of every source or, with apt-get's options, of some only. Each
# index is waited for once: a later update asks only for the sources it adds, so an index that
# is still broken never costs its tries twice.
apt_update() {
  local log try failures=""
  log=$(mktemp)
  for try in $(seq 1 "$update_tries"); do
    if "${sudo_cmd[@]}" apt-get update -q "$@" 2>&1 | tee "$log" && ! grep -q '^[EW]: Failed to fetch' "$log"; then
      rm -f "$log"
      return 0
    fi
    failures=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$log")
    [ -n "$failures" ] || failures="(see apt-get's messages above)"
    if [ "$try" -lt "$update_tries" ]; then
      echo "install-deps: apt-get update failed (try $try of $update_tries); trying again in ${update_pause} s" >&2
      sleep "$update_pause"
    fi
  done
  rm -f "$log"
  failed_indexes="$failed_indexes $failures"
  echo "install-deps: apt-get update still fails; going on with the package indexes apt has" >&2
}

# Installs the packages; on failure explains what went wrong and what to do, and stops.
apt_install() {
  if "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "$@"; then return 0; fi
  # With one architecture's index of a suite missing, that suite offers newer versions for the
  # other architecture only, and packages that must be the same version in both (libssl3 and
  # libssl3:i386, say) cannot be resolved. Once more, then, with that suite's versions taken
  # only where nothing else offers the package: both architectures come from the same suites.
  # Every package is still checked against its signed index.
  local suites="" prefs
  suites=$(printf '%s\n' $failed_indexes | sed -n 's|.*/dists/\([^/]*\)/.*|\1|p' | sort -u)
  if [ -n "$suites" ]; then
    prefs=$(mktemp)
    for suite in $suites; do
      printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$suite" >>"$prefs"
    done
    echo "install-deps: trying again without the newer versions of: $suites" >&2
    if "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends -o "Dir::Etc::Preferences=$prefs" "$@"; then
      rm -f "$prefs"
      echo "install-deps: installed without the updates of $suites; run 'apt-get upgrade' once the mirror has caught up" >&2
      return 0
    fi
    rm -f "$prefs"
  fi
  {
    echo
    echo "install-deps: could not install: $*"
    if [ -n "$failed_indexes" ]; then
      echo "install-deps: these package indexes could not be downloaded (the mirror is probably being updated):"
      printf '  %s\n' $failed_indexes
    fi
    echo "install-deps: wait a few minutes for the package mirror, then run the same command again."
  } >&2
  exit 1
}

# The security suite's own host serves the same signed indexes as the mirror network in front of
# it. When the mirror's copy of one of its indexes is broken, its packages cannot be installed
# for the other architecture either (libssl3:i386 must be the version libssl3 already has), so
# that suite's indexes are asked of its own host instead, for this install only.
origin_list=/etc/apt/sources.list.d/juv-security-origin.sources
remove_origin() { "${sudo_cmd[@]}" rm -f "$origin_list"; }
security_from_origin() {
  local suite
  suite=$(printf '%s\n' $failed_indexes | sed -n 's|.*/debian-security/dists/\([^/]*\)/.*|\1|p' | sort -u | head -1)
  [ -n "$suite" ] || return 0
  echo "install-deps: asking security.debian.org itself for the indexes of $suite" >&2
  printf '%s\n' 'Types: deb' 'URIs: http://security.debian.org/debian-security' "Suites: $suite" \
    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
    | "${sudo_cmd[@]}" tee "$origin_list" >/dev/null
  trap remove_origin EXIT
  apt_update -o "Dir::Etc::sourcelist=$origin_list" -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update
  security_from_origin
  apt_install "${missing[@]}"
  remove_origin
fi

# Some kernels are built or booted without 32-bit support (Wine's loader then fails with
# "Exec format error"). There, 32-bit programs run through qemu's user-mode emulator, registered
# with binfmt_misc. Debian 12's own qemu 7.2 mishandles Wine's address-space reservation (a
# minute per start), so the emulator comes from bookworm-backports, pinned to that one package.
if /usr/lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1; then
  exit 0
fi

qemu_major() { qemu-i386 --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p'; }
if [ "$(qemu_major)" = "" ] || [ "$(qemu_major)" -lt 8 ]; then
  bpo=$(grep -rls --include='*.list' --include='*.sources' 'bookworm-backports' /etc/apt/sources.list \
    /etc/apt/sources.list.d/ | head -1 || true)
  if [ -z "$bpo" ]; then
    bpo=/etc/apt/sources.list.d/bookworm-backports.sources
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
      | "${sudo_cmd[@]}" tee "$bpo" >/dev/null
  fi
  # Only the backports' index is new: the others were updated above, as well as they could be.
  apt_update -o "Dir::Etc::sourcelist=$bpo" -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0
  apt_install -t bookworm-backports qemu-user
fi

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared object, machine i386. Flag F opens the
  # emulator now, so it works for every process whatever its root or mount namespace.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
    | "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
fi
/usr/lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1 || {
  echo "32-bit programs still cannot run; Wine will not work on this machine" >&2
  exit 1
}
