#!/usr/bin/env bash
# make release: builds the program for publication from the current commit, in a build folder
# of its own made afresh (build/release), and writes dist/: ZoroDerERIDovudi.exe, BUILDINFO.txt
# and SHA256SUMS. Anyone who builds the same commit this way gets the same bytes.
#
#   PAYLOAD_EXE         the driver-installer tool the program carries (required)
#   SIGN_PFX            signs the program with this certificate and key (Authenticode, SHA-256)
#   SIGN_PASSWORD_FILE  the file holding the PFX's password (required with SIGN_PFX)
#   SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server for the signature (optional)
#
# The password is only ever passed as its file's name, so it shows in no process list or log.
# dist/ is removed first and put in place only when everything, the signature's check
# included, has succeeded: a failed release leaves no dist/ at all.
set -euo pipefail

fail() {
  echo "release: $*" >&2
  exit 1
}

payload=${PAYLOAD_EXE:-}
if [ -z "$payload" ]; then
  fail "PAYLOAD_EXE is not set. A release carries the real driver-installer tool:
  make release PAYLOAD_EXE=/path/to/wdi-simple.exe
The project's stand-in installs nothing and is never released."
fi
[ -f "$payload" ] && [ -s "$payload" ] || fail "PAYLOAD_EXE is no file, or an empty one: $payload"
payload=$(realpath "$payload")

pfx=${SIGN_PFX:-}
password_file=${SIGN_PASSWORD_FILE:-}
timestamp_url=${SIGN_TIMESTAMP_URL:-}
if [ -n "$pfx$password_file$timestamp_url" ]; then
  [ -n "$pfx" ] && [ -n "$password_file" ] || fail "signing needs both SIGN_PFX and SIGN_PASSWORD_FILE"
  [ -f "$pfx" ] || fail "SIGN_PFX: no such file: $pfx"
  [ -f "$password_file" ] || fail "SIGN_PASSWORD_FILE: no such file: $password_file"
  pfx=$(realpath "$pfx")
  password_file=$(realpath "$password_file")
fi
cd "$(dirname "$0")/.."

# What is released is a commit: uncommitted changes could never be built again by anyone else.
git rev-parse --verify -q HEAD >/dev/null || fail "not a git checkout with a commit"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  fail "uncommitted changes; a release is built from a commit alone: commit them first"
fi
commit=$(git rev-parse HEAD)
# The linker writes this as the PE time stamp instead of the time of the build.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH

rm -rf dist
build=build/release
rm -rf "$build"
mkdir -p "$build"
stage=$build/dist
mkdir "$stage"

# Certificates from the PFX (OpenSSL 3 reads PFX files with old ciphers only with -legacy).
pfx_certs() {
  openssl pkcs12 -in "$pfx" -passin "file:$password_file" -nokeys "$@" 2>/dev/null ||
    openssl pkcs12 -legacy -in "$pfx" -passin "file:$password_file" -nokeys "$@" 2>/dev/null
}
if [ -n "$pfx" ]; then
  # Read before the build, so that a wrong password costs no build. The signature is checked
  # against the PFX's own chain and the system's authorities (a PFX seldom holds its root; a
  # time-stamp server's root is usually the system's).
  trust=$build/trust.pem
  pfx_certs -out "$trust" || fail "cannot read SIGN_PFX with the password in SIGN_PASSWORD_FILE"
  if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    cat /etc/ssl/certs/ca-certificates.crt >>"$trust"
  fi
  signer=$(pfx_certs -clcerts | openssl x509 -noout -subject -issuer -fingerprint -sha256 -nameopt oneline) ||
    fail "no signing certificate in SIGN_PFX"
fi

cmake --preset release -DPAYLOAD_EXE="$payload" >"$build/configure.log" 2>&1 || {
  cat "$build/configure.log" >&2
  fail "configuration failed"
}
cmake --build --preset release
program=$build/bin/ZoroDerERIDovudi.exe
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

if [ -n "$pfx" ]; then
  timestamp=()
  [ -z "$timestamp_url" ] || timestamp=(-ts "$timestamp_url")
  osslsigncode sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 \
    -n "JUV LibUSB driver installer" "${timestamp[@]}" \
    -in "$program" -out "$stage/ZoroDerERIDovudi.exe" >"$build/sign.log" 2>&1 || {
    cat "$build/sign.log" >&2
    fail "signing failed"
  }
  osslsigncode verify -CAfile "$trust" -TSA-CAfile "$trust" -in "$stage/ZoroDerERIDovudi.exe" \
    >"$build/verify.log" 2>&1 || {
    cat "$build/verify.log" >&2
    fail "the signed program does not verify"
  }
  # osslsigncode counts a signature as verified even when its time stamp is not.
  if [ -n "$timestamp_url" ] && ! grep -q "^Timestamp Server Signature verification: ok" "$build/verify.log"; then
    cat "$build/verify.log" >&2
    fail "the signature's time stamp does not verify"
  fi
else
  cp "$program" "$stage/"
fi

package() { echo "$1 $(dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo unknown)"; }
{
  echo "ZoroDerERIDovudi.exe: JUV LibUSB driver installer"
  echo "version: $version"
  echo "commit: $commit"
  echo "commit date: $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC') (the program's PE time stamp)"
  echo "compiler: $(package g++-mingw-w64-i686-posix)"
  echo "binutils: $(package binutils-mingw-w64-i686)"
  echo "runtime libraries: $(package mingw-w64-i686-dev)"
  echo "payload: $(basename "$payload"), $(stat -c %s "$payload") bytes," \
    "SHA-256 $(sha256sum <"$payload" | cut -d' ' -f1)"
  if [ -n "$pfx" ]; then
    echo "signed: Authenticode, SHA-256, $(osslsigncode --version 2>&1 | head -1 | cut -d, -f1)"
    echo "time stamp: ${timestamp_url:-none}"
    echo "$signer" | sed "s/^/signer: /"
  else
    echo "signed: no"
  fi
} >"$stage/BUILDINFO.txt"
(cd "$stage" && sha256sum ZoroDerERIDovudi.exe BUILDINFO.txt >SHA256SUMS)

mv "$stage" dist
echo "release: dist/"
cat dist/BUILDINFO.txt
