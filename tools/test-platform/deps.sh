#!/usr/bin/env bash
# Installs, from Debian's packages only, everything the build, the demo and the tests need.
# Safe to run again: it only asks apt for what is missing.
# Usage: tools/test-platform/deps.sh [--mirror URL]
#   --mirror: the Debian archive for what this machine's apt sources lack (Debian 12 takes
#             osslsigncode from its backports); by default the archive those sources name
set -euo pipefail
mirror=
[ "${1:-}" != --mirror ] || mirror=${2:?}
packages=(cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest
          wine wine32:i386 wine64 xvfb xauth msitools wixl osslsigncode openssl
          locales librsvg2-bin icoutils imagemagick python3 iproute2 util-linux gdb
          softhsm2 libengine-pkcs11-openssl opensc)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
# Debian 12's own osslsigncode (2.5) has no -login for a token's PIN and words its reports
# otherwise: Debian 12 takes Debian 13's 2.9 from its backports.
backports=()
if [ "$release" = bookworm ] &&
   ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null)" ge 2.9~; then
  backports=(osslsigncode)
  sources=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
  if ! grep -qs "bookworm-backports" "${sources[@]}"; then
    [ -n "$mirror" ] || mirror=$(bash "$(dirname "$0")/apt-archive.sh" | head -n 1) ||
      { echo "deps: this machine's apt sources name no Debian archive for bookworm, where its backports are;" \
             "pass the archive as --mirror URL" >&2; exit 2; }
    echo "deb $mirror bookworm-backports main" > /etc/apt/sources.list.d/bookworm-backports.list
    need_update=1
  fi
fi
missing=()
dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; need_update=1; }
for p in "${packages[@]}"; do
  # A backported package is asked for on its own, from its suite.
  [[ " ${backports[*]} " != *" $p "* ]] || continue
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ ${#backports[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in mid-sync fails one index now and then: try again, then go on with what came.
  for try in 1 2 3; do apt-get update -qq && break; sleep 5; done || true
  install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }
  # Without one architecture's security index the i386 and amd64 versions of a library no
  # longer match: then take both from the release's own suite.
  [ ${#missing[@]} -eq 0 ] || install || install -t "$release"
  [ ${#backports[@]} -eq 0 ] ||
    apt-get install -y -qq --no-install-recommends -t "$release-backports" "${backports[@]}" >/dev/null
fi
# A kernel that runs no 32-bit x86 code: the tests run in an emulated machine (tools/test-platform/in-vm.sh)
# that boots a kernel of this release which does.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  vm=()
  for p in qemu-system-x86 linux-image-amd64 busybox-static cpio xz-utils kmod; do
    installed "$p" || vm+=("$p")
  done
  [ ${#vm[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${vm[@]}" >/dev/null
fi
# The UI-language scenarios run under these locales.
want="en_US.UTF-8 it_IT.UTF-8 sq_AL.UTF-8 sl_SI.UTF-8"
have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z')
gen=0
for l in $want; do
  norm=$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  echo "$have" | grep -qx "$norm" && continue
  grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null || echo "$l UTF-8" >> /etc/locale.gen
  gen=1
done
[ $gen -eq 0 ] || locale-gen >/dev/null
