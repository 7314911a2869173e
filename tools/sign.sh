#!/usr/bin/env bash
# Signs files (setup.exe, .msi and .msp packages, any PE file) with Authenticode through
# osslsigncode. setup.exe accepts a downloaded package only when it carries the certificate
# that signed setup.exe itself, so sign the packages with the release's own identity.
#
# Usage: tools/sign.sh IDENTITY [--timestamp URL] [--dual] [--timeout SECONDS] [--out FOLDER] FILE...
#   IDENTITY is --pfx FILE [--password-file FILE]
#            or --cert FILE --key FILE [--password-file FILE]
#            or --pkcs11-module FILE --pkcs11-key URI (--pkcs11-cert URI | --cert FILE)
#               [--password-file FILE]: a key on a token (pkcs11: URIs), the PIN in the file
#            or --build FOLDER: the identity, timestamp server and dual signing that build
#               was configured with (SETUP_SIGN_* in its CMakeCache.txt)
#   --dual: a SHA-1 signature for old Windows, with a nested SHA-256 one from the same identity
#   --timeout: each signing step (timestamp server included) ends after SECONDS (default 60)
# Without --out each file is replaced by its signed copy; with it, signed copies of the same
# name go to FOLDER. A file that fails to sign stays as it was; with --out, nothing is left
# under its name in FOLDER.
set -euo pipefail

usage() { sed -n '6,17p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
fail() { echo "sign.sh: $*" >&2; exit 2; }
pfx= cert= key= module= token_key= token_cert= password_file= timestamp= dual= timeout=60 out=

from_build() {
  local cache=$1/CMakeCache.txt
  [ -f "$cache" ] || fail "no CMakeCache.txt in $1"
  value() { sed -n "s/^$1:[A-Z]*=//p" "$cache"; }
  pfx=$(value SETUP_SIGN_PFX) cert=$(value SETUP_SIGN_CERT) key=$(value SETUP_SIGN_KEY)
  module=$(value SETUP_SIGN_PKCS11_MODULE) token_key=$(value SETUP_SIGN_PKCS11_KEY)
  token_cert=$(value SETUP_SIGN_PKCS11_CERT)
  password_file=$(value SETUP_SIGN_PASSWORD_FILE) timestamp=$(value SETUP_SIGN_TIMESTAMP_URL)
  case $(value SETUP_SIGN_DUAL) in ON|on|TRUE|true|YES|yes|Y|y|1) dual=1 ;; esac
}

while [ $# -gt 0 ]; do
  case $1 in
    --pfx) pfx=$2; shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --pkcs11-module) module=$2; shift 2 ;;
    --pkcs11-key) token_key=$2; shift 2 ;;
    --pkcs11-cert) token_cert=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --dual) dual=1; shift ;;
    --timeout) timeout=$2; shift 2 ;;
    --build) from_build "$2"; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage

token="$module$token_key$token_cert"
if [ -n "$pfx" ] && [ -z "$cert$key$token" ]; then
  identity=(-pkcs12 "$pfx")
elif [ -z "$pfx$token" ] && [ -n "$cert" ] && [ -n "$key" ]; then
  identity=(-certs "$cert" -key "$key")
elif [ -z "$pfx$key" ] && [ -n "$module" ] && [ -n "$token_key" ] && [ -n "$token_cert$cert" ] &&
     { [ -z "$token_cert" ] || [ -z "$cert" ]; }; then
  [ -f "$module" ] || fail "PKCS#11 module $module not found"
  identity=(-pkcs11module "$module" -key "$token_key")
  if [ -n "$token_cert" ]; then identity+=(-pkcs11cert "$token_cert"); else identity+=(-certs "$cert"); fi
  # Some tokens show their objects only after the PIN is given.
  [ -z "$password_file" ] || identity+=(-login)
else
  fail "give one identity: a PFX file, a certificate and its key, or a PKCS#11 module with a" \
       "key on the token and its certificate (on the token or in a file)"
fi
[ -z "$password_file" ] || identity+=(-readpass "$password_file")
[ -z "$timestamp" ] || identity+=(-ts "$timestamp")
[ -z "$out" ] || mkdir -p "$out"

# One osslsigncode run; a timestamp server that never answers would hold it for ever.
sign_step() {
  local code=0
  timeout "$timeout" osslsigncode sign "${identity[@]}" "$@" >/dev/null || code=$?
  [ $code -ne 124 ] || echo "sign.sh: no answer within $timeout s${timestamp:+ (timestamp server $timestamp)}" >&2
  return $code
}

for file in "$@"; do
  dest=${out:+$out/$(basename "$file")}
  dest=${dest:-$file}
  # A signed copy left from an earlier run must not pass for this one's.
  [ "$dest" -ef "$file" ] || rm -f "$dest"
  # osslsigncode cannot write over its input, and writes its output before the timestamp
  # server answers: the signed copy replaces dest only when whole.
  if [ -n "$dual" ]; then
    sign_step -h sha1 -in "$file" -out "$dest.primary" &&
      sign_step -nest -h sha256 -in "$dest.primary" -out "$dest.signing"
  else
    sign_step -h sha256 -in "$file" -out "$dest.signing"
  fi || {
    rm -f "$dest.primary" "$dest.signing"
    [ "$dest" -ef "$file" ] && echo "sign.sh: $file not signed, left as it was" >&2 ||
      echo "sign.sh: $file not signed, nothing written to $dest" >&2
    exit 1
  }
  rm -f "$dest.primary"
  mv -f "$dest.signing" "$dest"
  echo "signed $dest"
done
