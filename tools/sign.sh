#!/usr/bin/env bash
# Signs files (setup.exe, .msi and .msp packages, any PE file) with Authenticode through
# osslsigncode. setup.exe accepts a downloaded package only when it carries the certificate
# that signed setup.exe itself, so sign the packages with the release's own identity.
#
# Usage: tools/sign.sh IDENTITY [--timestamp URL] [--out FOLDER] FILE...
#   IDENTITY is --pfx FILE [--password-file FILE]
#            or --cert FILE --key FILE [--password-file FILE]
#            or --build FOLDER: the identity and timestamp server that build was configured
#               with (SETUP_SIGN_* in its CMakeCache.txt)
# Without --out each file is replaced by its signed copy; with it, signed copies of the same
# name go to FOLDER.
set -euo pipefail

usage() { sed -n '6,12p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
pfx= cert= key= password_file= timestamp= out=

from_build() {
  local cache=$1/CMakeCache.txt
  [ -f "$cache" ] || { echo "sign.sh: no CMakeCache.txt in $1" >&2; exit 2; }
  value() { sed -n "s/^$1:[A-Z]*=//p" "$cache"; }
  pfx=$(value SETUP_SIGN_PFX) cert=$(value SETUP_SIGN_CERT) key=$(value SETUP_SIGN_KEY)
  password_file=$(value SETUP_SIGN_PASSWORD_FILE) timestamp=$(value SETUP_SIGN_TIMESTAMP_URL)
}

while [ $# -gt 0 ]; do
  case $1 in
    --pfx) pfx=$2; shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --build) from_build "$2"; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage

if [ -n "$pfx" ] && [ -z "$cert$key" ]; then
  identity=(-pkcs12 "$pfx")
elif [ -z "$pfx" ] && [ -n "$cert" ] && [ -n "$key" ]; then
  identity=(-certs "$cert" -key "$key")
else
  echo "sign.sh: give either a PFX file or a certificate and its key" >&2
  exit 2
fi
[ -z "$password_file" ] || identity+=(-readpass "$password_file")
[ -z "$timestamp" ] || identity+=(-ts "$timestamp")
[ -z "$out" ] || mkdir -p "$out"

for file in "$@"; do
  dest=${out:+$out/$(basename "$file")}
  dest=${dest:-$file}
  # osslsigncode cannot write over its input; the signed copy replaces dest only when whole.
  osslsigncode sign "${identity[@]}" -h sha256 -in "$file" -out "$dest.signing" >/dev/null ||
    { rm -f "$dest.signing"; exit 1; }
  mv -f "$dest.signing" "$dest"
  echo "signed $dest"
done
