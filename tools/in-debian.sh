#!/usr/bin/env bash
# Runs a command of this project inside a fresh Debian root of another release, made with
# debootstrap from Debian's packages: the check of a release before its users meet it.
#
# Usage: tools/in-debian.sh [--mirror URL] [--cache DIR] [--share DIR] RELEASE COMMAND [ARG...]
#   e.g. tools/in-debian.sh trixie tools/test.sh
#   RELEASE   a Debian code name (bookworm, trixie, ...)
#   --mirror  Debian's archive (default: the one this machine's apt sources name, and the
#             security archive they name; with --mirror, the security archive beside it)
#   --cache   keep the downloaded packages in DIR between runs (the root is new all the same)
#   --share   DIR is /share inside, to hand files in and out
# The command runs as root in /project, a copy of this working tree as it is when the run
# starts (without build folders and .git); its exit code is the command's. The root and all
# that is mounted in it are gone afterwards, whatever happened: the mounts live in a mount
# namespace of their own and the processes in a PID namespace of their own, so both end
# with the run, and only then is the root removed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mirror= security= cache= share= stage=

usage() { sed -n '5,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --mirror) mirror=${2:?}; shift 2 ;;
    --security) security=${2:?}; shift 2 ;;  # the second stage's, below
    --cache) cache=$(realpath -m "${2:?}"); shift 2 ;;
    --share) share=$(realpath "${2:?}"); shift 2 ;;
    --inside) stage=inside; shift ;;  # the second stage, below
    -*) usage ;;
    *) break ;;
  esac
done

# The second stage: PID 1 of the new namespaces, in the root folder that the first made.
inside() {
  local release=$1 root=$2; shift 2
  # Interrupted: end at once; every process of the run ends with PID 1.
  trap 'exit 130' INT TERM
  # The tests' own `unshare -m` needs the root to be a mount point.
  mount --bind "$root" "$root"
  local debs=()
  if [ -n "$cache" ]; then
    mkdir -p "$cache/debootstrap" "$cache/apt/partial"
    debs=(--cache-dir="$cache/debootstrap")
  fi
  echo "in-debian: making a $release root with debootstrap" >&2
  debootstrap --variant=minbase "${debs[@]}" "$release" "$root" "$mirror" >"$root.log" 2>&1 ||
    { tail -n 20 "$root.log" >&2; echo "in-debian: debootstrap $release failed" >&2; exit 2; }
  cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $release main
deb $mirror $release-updates main
deb $security $release-security main
EOF
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount -t proc proc "$root/proc"
  mount -t sysfs sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/dev/shm"
  mount -t tmpfs tmpfs "$root/run"
  if [ -n "$cache" ]; then
    mount --bind "$cache/apt" "$root/var/cache/apt/archives"
    chroot "$root" chown -R _apt:root /var/cache/apt/archives/partial
  fi
  if [ -n "$share" ]; then mkdir -p "$root/share"; mount --bind "$share" "$root/share"; fi
  mkdir -p "$root/project"
  tar -C "$top" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$root/project" -xf -
  # A clean environment, as on a fresh machine; CI keeps its meaning.
  chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 ${CI:+CI=$CI} \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd /project && exec "$@"' in-debian "$@" &
  wait $!
}

if [ -n "$stage" ]; then inside "$@"; exit; fi
[ $# -ge 2 ] || usage
release=$1; shift
[ "$(id -u)" = 0 ] || { echo "in-debian: run as root (debootstrap, chroot and mounts)" >&2; exit 2; }
command -v debootstrap >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
[ -e "/usr/share/debootstrap/scripts/$release" ] ||
  { echo "in-debian: debootstrap does not know the release '$release'" >&2; exit 2; }

if [ -z "$mirror" ]; then
  { read -r mirror; read -r security; } < <(bash "$top/tools/test-platform/apt-archive.sh") || true
  [ -n "$mirror" ] || { echo "in-debian: this machine's apt sources name no Debian archive; pass one as --mirror URL" >&2; exit 2; }
fi
[ -n "$security" ] || security=${mirror%/debian}/debian-security

root=$(mktemp -d "/var/tmp/in-debian-$release.XXXXXX")
# Runs once the namespaces have ended, so no mount of the run is left when the root goes.
trap 'rm -rf --one-file-system "$root" "$root.log"' EXIT
started=$SECONDS
status=0
unshare --mount --propagation private --pid --fork --kill-child \
  bash "$0" --inside ${cache:+--cache "$cache"} ${share:+--share "$share"} --mirror "$mirror" --security "$security" \
  "$release" "$root" "$@" || status=$?
echo "in-debian: $release: exit $status after $((SECONDS - started)) s" >&2
exit $status
