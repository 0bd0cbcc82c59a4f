#!/usr/bin/env bash
# Checks make release as its users will check a release:
#  - two clones of the current sources (uncommitted changes to tracked files included), in
#    folders of different lengths, each with its own copy of the tool, give the same dist/ byte
#    for byte; its checksums check; the program carries the tool byte for byte, has the commit's
#    date as PE time stamp and no folder name of the build in it;
#  - without PAYLOAD_EXE the release stops and says why;
#  - signed with a throw-away certificate and time-stamped by a throw-away server, the release
#    verifies against the throw-away CA, its checksums check, the README's extract-and-attach turns the other clone's unsigned build into
#    the same signed file, and it still runs under Wine and installs the tool it carries;
#  - a signature that does not verify, or a wrong password, fails the release and leaves no
#    dist/; the password shows in no output, not even in a trace of every command the release
#    runs.
# Usage: release-check.sh [TOOL.exe]   (default: the project's stand-in from the windows preset)
# Everything happens in build/release-check, which is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$root/build/release-check

# Deletes only inside this check's own folder.
remove() {
  local path
  path=$(realpath -m "$1")
  case "$path" in
    "$work" | "$work"/*) rm -rf -- "$path" ;;
    *)
      echo "release-check: refusing to delete $path" >&2
      exit 1
      ;;
  esac
}
fail() {
  echo "release-check: FAILED: $*" >&2
  exit 1
}

payload=${1:-}
if [ -z "$payload" ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target wdi-simple >/dev/null
  payload=build/windows/bin/wdi-simple.exe
fi
payload=$(realpath "$payload")

tsa_pid=""
cleanup() {
  if [ -n "$tsa_pid" ]; then
    kill "$tsa_pid" 2>/dev/null || true
    wait "$tsa_pid" 2>/dev/null || true
  fi
  remove "$work"
}
remove "$work"
trap cleanup EXIT
mkdir -p "$work"

# The sources as they are now: a commit of the tracked files as they are, or HEAD when unchanged.
commit=$(git stash create)
[ -n "$commit" ] || commit=$(git rev-parse HEAD)
short=$work/a
long=$work/a-folder-with-a-much-longer-name/b
for dir in "$short" "$long"; do
  git clone --quiet --no-checkout "$root" "$dir/src"
  git -C "$dir/src" checkout --quiet --detach "$commit"
  mkdir "$dir/tool"
  cp "$payload" "$dir/tool/wdi-simple.exe"
done

# release DIR LOG [NAME=VALUE...]: make release's script in the clone in DIR, every command it
# runs traced into LOG with its output.
release() {
  local dir=$1 log=$2
  shift 2
  (cd "$dir/src" && env -u PAYLOAD_EXE -u SIGN_PFX -u SIGN_PASSWORD_FILE -u SIGN_TIMESTAMP_URL \
    "$@" bash -x scripts/release.sh) >"$log" 2>&1
}
show_fail() {
  cat "$1" >&2
  fail "$2"
}

echo "release-check: without PAYLOAD_EXE"
if release "$short" "$work/no-payload.log"; then
  show_fail "$work/no-payload.log" "a release without PAYLOAD_EXE succeeded"
fi
grep -q "PAYLOAD_EXE is not set" "$work/no-payload.log" ||
  show_fail "$work/no-payload.log" "no clear message without PAYLOAD_EXE"

echo "release-check: two release builds in $short and $long"
for dir in "$short" "$long"; do
  release "$dir" "$dir/release.log" PAYLOAD_EXE="$dir/tool/wdi-simple.exe" ||
    show_fail "$dir/release.log" "the release build failed in $dir"
done
dist=$short/src/dist
exe=$dist/ZoroDerERIDovudi.exe
for file in ZoroDerERIDovudi.exe BUILDINFO.txt SHA256SUMS; do
  cmp "$dist/$file" "$long/src/dist/$file" || fail "$file differs between the two folders"
done
(cd "$dist" && sha256sum --check --quiet SHA256SUMS) || fail "dist/SHA256SUMS does not check"
python3 -c 'import sys; sys.exit(open(sys.argv[1], "rb").read().find(open(sys.argv[2], "rb").read()) < 0)' \
  "$exe" "$payload" || fail "the program does not carry the tool byte for byte"
grep -q "^payload: wdi-simple.exe, $(stat -c %s "$payload") bytes, SHA-256 $(sha256sum <"$payload" | cut -d' ' -f1)\$" \
  "$dist/BUILDINFO.txt" || fail "BUILDINFO.txt does not name the tool: $(cat "$dist/BUILDINFO.txt")"
! grep -q -a -F "$work" "$exe" || fail "the program holds the build's folder name"
stamp=$(TZ=UTC i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^Time\/Date[[:space:]]*//p')
commit_date=$(TZ=UTC date -d "@$(git log -1 --format=%ct "$commit")" '+%a %b %e %H:%M:%S %Y')
[ "$stamp" = "$commit_date" ] || fail "PE time stamp '$stamp', commit date '$commit_date'"
echo "release-check: identical, $(stat -c %s "$exe") bytes, SHA-256 $(sha256sum <"$exe" | cut -d' ' -f1)"

echo "release-check: a throw-away CA and code-signing certificate"
cert=$work/cert
mkdir "$cert"
password="juv-check-$(openssl rand -hex 12)"
printf '%s\n' "$password" >"$cert/password.txt"
printf '%s\n' "wrong-$password" >"$cert/wrong.txt"
(
  cd "$cert"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=JUV release check CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign"
  openssl req -newkey rsa:2048 -nodes -keyout publisher.key -out publisher.csr \
    -subj "/CN=JUV release check publisher"
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" >publisher.ext
  openssl x509 -req -in publisher.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile publisher.ext -out publisher.pem
  openssl pkcs12 -export -inkey publisher.key -in publisher.pem -certfile ca.pem \
    -passout file:password.txt -out publisher.pfx
  # Without its CA the publisher's certificate cannot be traced to a trusted root.
  openssl pkcs12 -export -inkey publisher.key -in publisher.pem \
    -passout file:password.txt -out unrooted.pfx
  # A time-stamp server of the same CA.
  openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=JUV release check TSA"
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=critical,timeStamping" >tsa.ext
  openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile tsa.ext \
    -out tsa.pem
  echo 01 >tsa.serial
  printf '%s\n' "[ tsa ]" "default_tsa = check" "[ check ]" "serial = $cert/tsa.serial" \
    "signer_cert = $cert/tsa.pem" "certs = $cert/ca.pem" "signer_key = $cert/tsa.key" \
    "signer_digest = sha256" "default_policy = 1.2.3.4.1" "digests = sha256, sha384, sha512" \
    "ess_cert_id_alg = sha256" >tsa.cnf
) >"$work/cert.log" 2>&1 || show_fail "$work/cert.log" "making the test certificates failed"

echo "release-check: a signed release with a time stamp"
python3 tests/release/timestamp_server.py "$cert/tsa.cnf" "$cert/tsa.port" 2>"$work/tsa.log" &
tsa_pid=$!
for _ in $(seq 1 50); do [ -s "$cert/tsa.port" ] && break; sleep 0.2; done
[ -s "$cert/tsa.port" ] || show_fail "$work/tsa.log" "the time-stamp server did not start"
release "$short" "$work/signed.log" PAYLOAD_EXE="$short/tool/wdi-simple.exe" \
  SIGN_PFX="$cert/publisher.pfx" SIGN_PASSWORD_FILE="$cert/password.txt" \
  SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$cert/tsa.port")" no_proxy=127.0.0.1 ||
  show_fail "$work/signed.log" "the signed release failed"
kill "$tsa_pid"
wait "$tsa_pid" 2>/dev/null || true
tsa_pid=""
osslsigncode verify -CAfile "$cert/ca.pem" -TSA-CAfile "$cert/ca.pem" -in "$exe" >"$work/verify.log" 2>&1 ||
  show_fail "$work/verify.log" "the signed program does not verify against the test CA"
grep -q "^Timestamp Server Signature verification: ok" "$work/verify.log" ||
  show_fail "$work/verify.log" "the signature carries no valid time stamp"
(cd "$dist" && sha256sum --check --quiet SHA256SUMS) || fail "the signed release's checksums do not check"
grep -q "^signer: subject=CN = JUV release check publisher$" "$dist/BUILDINFO.txt" ||
  fail "BUILDINFO.txt does not name the signer: $(cat "$dist/BUILDINFO.txt")"
! cmp -s "$exe" "$long/src/dist/ZoroDerERIDovudi.exe" || fail "the signed program equals the unsigned one"
! grep -q -F "$password" "$dist"/* || fail "the password shows in dist/"
# The README's way to check that a signed release is the program built from its commit.
(
  cd "$work"
  osslsigncode extract-signature -pem -in "$exe" -out release-signature.pem
  osslsigncode attach-signature -sigin release-signature.pem -CAfile "$cert/ca.pem" \
    -TSA-CAfile "$cert/ca.pem" -in "$long/src/dist/ZoroDerERIDovudi.exe" -out own-build-signed.exe
) >"$work/attach.log" 2>&1 || show_fail "$work/attach.log" "extracting or attaching the signature failed"
cmp "$exe" "$work/own-build-signed.exe" || fail "the unsigned build with the release's signature differs"
mkdir "$work/run"
cp "$exe" "$work/run/"

echo "release-check: a signature that does not verify, a wrong password"
if release "$short" "$work/unrooted.log" PAYLOAD_EXE="$short/tool/wdi-simple.exe" \
  SIGN_PFX="$cert/unrooted.pfx" SIGN_PASSWORD_FILE="$cert/password.txt"; then
  show_fail "$work/unrooted.log" "a release whose signature does not verify succeeded"
fi
grep -q "the signed program does not verify" "$work/unrooted.log" ||
  show_fail "$work/unrooted.log" "no clear message for a signature that does not verify"
[ ! -e "$dist" ] || fail "a failed release left dist/ behind"
if release "$short" "$work/wrong.log" PAYLOAD_EXE="$short/tool/wdi-simple.exe" \
  SIGN_PFX="$cert/publisher.pfx" SIGN_PASSWORD_FILE="$cert/wrong.txt"; then
  show_fail "$work/wrong.log" "a release with a wrong password succeeded"
fi
grep -q "cannot read SIGN_PFX" "$work/wrong.log" || show_fail "$work/wrong.log" "no clear message for a wrong password"
[ ! -e "$dist" ] || fail "a failed release left dist/ behind"
for log in "$work"/*.log "$short/release.log"; do
  ! grep -q -F "$password" "$log" || fail "the password shows in $log"
done

echo "release-check: the signed program installs its tool under Wine"
JUV_XVFB=1 scripts/wine-session.sh bash -c \
  'cd "$1" && timeout 300 wine ZoroDerERIDovudi.exe /AUTO </dev/null >/dev/null 2>&1' check "$work/run" ||
  fail "the signed program did not end on its own with exit code 0"
cmp "$work/run/DARORED/wdi-simple.exe" "$payload" || fail "the tool it wrote differs from the payload"
echo "release-check: passed"
