#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12. Safe to run again: it only asks
# apt for what is missing, enables the i386 architecture (Wine's 32-bit part) once, and sets up
# 32-bit emulation only on kernels that cannot run 32-bit programs themselves.
set -euo pipefail

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 fonts-wine xvfb xauth imagemagick x11-utils
  python3
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

apt_updated=0
apt_update() {
  if [ "$apt_updated" -eq 0 ]; then
    "${sudo_cmd[@]}" apt-get update -q
    apt_updated=1
  fi
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
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
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
  bpo=/etc/apt/sources.list.d/bookworm-backports.sources
  if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
      | "${sudo_cmd[@]}" tee "$bpo" >/dev/null
  fi
  apt_updated=0
  apt_update
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user
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
