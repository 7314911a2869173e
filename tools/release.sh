#!/usr/bin/env bash
# The release set, from the packages to a signed and checked DIST (tools/release/release.py), and
# the download host checked against DIST once the files are uploaded (tools/release/release_host.py).
#
# Usage: tools/release.sh --build BUILD --packages DIR --out DIST
#        tools/release.sh --check-host DIST [--timeout SECONDS]
#   BUILD: a build folder configured with a product file and a signing identity
#   --timeout: each address's fetch ends after about SECONDS (default 30)
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
usage() { sed -n '5,8p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
fail() { echo "release.sh: $*" >&2; exit 2; }
build= packages= out= host= timeout=30

while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case $1 in
    --build) build=$2 ;;
    --packages) packages=$2 ;;
    --out) out=$2 ;;
    --check-host) host=$2 ;;
    --timeout) timeout=$2 ;;
    *) usage ;;
  esac
  shift 2
done

if [ -n "$host" ]; then
  [ -z "$build$packages$out" ] || usage
  [ -f "$host/release.json" ] || fail "no release.json in $host"
  exec python3 "$tools/release/release_host.py" "$host" "$timeout"
fi
[ -n "$build" ] && [ -n "$packages" ] && [ -n "$out" ] || usage
[ -f "$build/CMakeCache.txt" ] || fail "no CMakeCache.txt in $build"
[ -d "$packages" ] || fail "no folder $packages"
[ -d "$(dirname "$out")" ] || fail "no folder $(dirname "$out") to hold $out"
grep -Eq '^SETUP_SIGN_(PFX|CERT|PKCS11_KEY):[A-Z]+=.' "$build/CMakeCache.txt" ||
  fail "$build has no signing identity (SETUP_SIGN_PFX, SETUP_SIGN_CERT or SETUP_SIGN_PKCS11_KEY)"
# Built and signed only when out of date; its signer is the one every package must carry.
cmake --build "$build" --target setup_signed >&2 || fail "setup.exe did not build and sign in $build"
exec python3 "$tools/release/release.py" "$build" "$packages" "$out"
