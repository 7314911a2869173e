#!/usr/bin/env bash
# Runs a command in an x86-64 machine that QEMU emulates in software, for a machine whose own
# kernel runs no 32-bit x86 code (Wine's 32-bit loader then fails with "Exec format error").
# The emulated machine boots this machine's Debian kernel, which runs 32-bit code, on this
# machine's own files: its root read-only, /tmp, /run and /root empty, each shared folder
# writable at its own path. It sees no network but its own loopback.
#
# Usage: tools/test-platform/in-vm.sh [--when-needed] [--share DIR]... COMMAND [ARG...]
#        tools/test-platform/in-vm.sh --needed
# The command runs as root in the current folder with this environment (less the display's);
# the exit code is the command's, or 125 when the machine did not run it. --when-needed: on a
# machine that runs 32-bit x86 code (Wine's 32-bit loader starts), it simply runs here.
# --needed: exits 0 when this machine runs no 32-bit x86 code, 1 when it does.
set -euo pipefail
runs_32bit_code() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
[ "${1:-}" != --needed ] || { ! runs_32bit_code; exit; }
shares=() when_needed=
[ "${1:-}" != --when-needed ] || { when_needed=1; shift; }
while [ "${1:-}" = --share ]; do shares+=("$(realpath "${2:?}")"); shift 2; done
[ $# -gt 0 ] || { sed -n '8,13p' "$0" | sed 's/^# //' >&2; exit 2; }
if [ -n "$when_needed" ]; then
  runs_32bit_code && exec "$@"
  echo "in-vm: this machine runs no 32-bit x86 code: the rest runs in an emulated x86-64 machine, several times slower" >&2
fi

kernel=$(ls -v /boot/vmlinuz-* 2>/dev/null | tail -n 1) || true
version=${kernel#/boot/vmlinuz-}
[ -n "$kernel" ] && [ -d "/lib/modules/$version" ] ||
  { echo "in-vm: no kernel to boot: install linux-image-amd64 (tools/test-platform/deps.sh does)" >&2; exit 125; }

state=$(mktemp -d /tmp/in-vm.XXXXXX)
trap 'rm -rf "$state"' EXIT

# The first stage, in memory: load the drivers for QEMU's shared folders, mount this machine's
# root and the shares, and hand over to the second stage on that root.
initrd=$state/initrd
mkdir -p "$initrd"/{bin,dev,proc,mnt,modules}
cp /bin/busybox "$initrd/bin/"
for m in virtio_pci 9pnet_virtio 9p; do modprobe -S "$version" --show-depends "$m"; done |
  awk '$1 == "insmod" && !seen[$2]++ {print $2}' | while read -r ko; do
    name=$(basename "$ko"); name=${name%%.ko*}
    # Debian 13 packs its modules with xz, which busybox's insmod may not unpack.
    case $ko in *.xz) xz -dc "$ko" ;; *) cat "$ko" ;; esac >"$initrd/modules/$name.ko"
    echo "$name" >>"$initrd/modules/order"
  done
{
  echo '#!/bin/busybox sh'
  echo 'b=/bin/busybox; $b mount -t proc proc /proc; $b mount -t devtmpfs dev /dev'
  echo 'for m in $($b cat /modules/order); do $b insmod /modules/$m.ko || exit 1; done'
  echo 'o=trans=virtio,version=9p2000.L,msize=512000,cache=loose'
  echo '$b mount -t 9p -o $o,ro root /mnt || exit 1'
  echo 'for d in /tmp /run /root; do $b mount -t tmpfs tmpfs /mnt$d; done'
  i=0
  for dir in "$state" "${shares[@]}"; do
    printf '$b mkdir -p %q; $b mount -t 9p -o $o share%d %q || exit 1\n' "/mnt$dir" $i "/mnt$dir"
    i=$((i + 1))
  done
  printf 'exec $b switch_root /mnt /bin/bash %q\n' "$state/guest"
} >"$initrd/init"
chmod +x "$initrd/init"
(cd "$initrd" && find . | cpio -o -H newc --quiet) | gzip -1 >"$state/initrd.gz"

# The second stage: PID 1 on this machine's root, running the command.
{
  echo 'mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev'
  echo 'mkdir -p /dev/pts /dev/shm; mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm'
  echo 'ln -s /proc/self/fd /dev/fd; ln -s fd/0 /dev/stdin; ln -s fd/1 /dev/stdout; ln -s fd/2 /dev/stderr'
  echo 'stty -onlcr 2>/dev/null; ip link set lo up'
  export -p | grep -v -E '^declare -x (DISPLAY|XAUTHORITY|WAYLAND_DISPLAY|DBUS_SESSION_BUS_ADDRESS|XDG_RUNTIME_DIR)='
  printf 'cd %q && ' "$PWD"
  printf '%q ' "$@"
  echo '</dev/null'
  printf 'echo $? >%q\n' "$state/status"
  echo 'stty -onlcr  # returns once the console has sent all it was given'
  # Power off through QEMU's exit port, which the kernel does without a word on the console.
  echo 'sync; printf "\\0" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null; sleep 60'
} >"$state/guest"

# Software emulation runs Wine about ten times slower than the processor. The plain x86-64
# model is the fastest to emulate (libraries then take no vector code the emulator must work
# through: Wine made a prefix in 37 s, against 63 s with a Haswell), and with the emulator's
# "max" model Wine's 32-bit processes are killed at once.
memory=$(awk '/MemTotal/ {m = int($2 / 2048); print (m > 16384 ? 16384 : m)}' /proc/meminfo)
args=(-accel tcg,thread=multi -cpu qemu64 -smp "$(nproc)" -m "$memory"
      -nodefaults -no-user-config -display none -serial stdio -no-reboot
      -device isa-debug-exit,iobase=0xf4,iosize=1 -kernel "$kernel" -initrd "$state/initrd.gz"
      -append "console=ttyS0 loglevel=4 panic=-1 mitigations=off"
      -virtfs "local,path=/,mount_tag=root,security_model=passthrough,readonly=on,multidevs=remap")
i=0
for dir in "$state" "${shares[@]}"; do
  args+=(-virtfs "local,path=$dir,mount_tag=share$i,security_model=passthrough,multidevs=remap")
  i=$((i + 1))
done
qemu-system-x86_64 "${args[@]}" </dev/null || true  # its own status says only how it stopped
[ -s "$state/status" ] || { echo "in-vm: the emulated machine stopped before the command ended" >&2; exit 125; }
exit "$(cat "$state/status")"
