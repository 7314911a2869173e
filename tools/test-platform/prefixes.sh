#!/usr/bin/env bash
# Makes the Wine prefixes a build's tests need under ROOT: a template per architecture (made
# once, ~10 s each) and light copies of it for the component tests and the old platforms.
# Usage: tools/test-platform/prefixes.sh ROOT win32|win64   (the build's own Windows)
#   win32, the x86 build: templates win32 and win64; unit32, wow64 (the x86 programs on x64
#          Windows), win98 and nt40
#   win64, the x64 build: template win64; unit64, unit64-win98 and unit64-nt40 (the old
#          platforms' paths, taken by 64-bit programs in a prefix set to those versions)
set -euo pipefail
root=$(realpath -m "$1") own=$2
mkdir -p "$root"
export WINEDEBUG=-all
unset DISPLAY  # making a prefix needs no display

# A template's loader: Wine's 64-bit one needs no 32-bit code. The 32-bit one is a Linux
# program that a kernel or hypervisor without IA-32 support refuses ("Exec format error").
loader() { [ "$1" = win64 ] && echo /usr/lib/wine/wine64 || echo /usr/lib/wine/wine; }
if [ "$own" = win32 ] && ! out=$(/usr/lib/wine/wine --version 2>&1); then
  echo "prefixes: this machine cannot run Wine's 32-bit loader, so no 32-bit Windows program runs here:" >&2
  echo "  /usr/lib/wine/wine: $out" >&2
  dmesg 2>/dev/null | grep -i -e 'ia-32 emulation' -e '32-bit emulation' >&2 || true
  echo "  (tools/test.sh runs them in an emulated machine: tools/test-platform/in-vm.sh)" >&2
  exit 2
fi

make_template() {  # ARCH
  local dir=$root/template-$1 wine
  wine=$(loader "$1")
  [ -f "$dir/.ready" ] && return
  rm -rf "$dir"
  WINEARCH=$1 WINEPREFIX=$dir "$wine" wineboot -i >/dev/null 2>&1
  # Without a window manager Wine waits ~2 s at every hidden or destroyed window unless
  # its windows are unmanaged.
  WINEPREFIX=$dir "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX=$dir wineserver -w
  [ -f "$dir/drive_c/windows/system32/kernel32.dll" ] ||
    { echo "prefixes: Wine did not make the $1 prefix $dir" >&2; return 1; }
  touch "$dir/.ready"
}

# A copy that shares a template's files; the registry files are its own, since the wineserver
# rewrites them. With a Windows version, the copy is set to it in its registry file directly:
# starting Wine for that costs seconds, many more in an emulated machine.
copy_prefix() {  # TEMPLATE NAME [WINDOWS-VERSION]
  local dir=$root/$2
  rm -rf "$dir"
  cp -al "$root/$1" "$dir"
  for f in system.reg user.reg userdef.reg; do cp --remove-destination "$root/$1/$f" "$dir/$f"; done
  rm -f "$dir/.ready"
  [ -z "${3:-}" ] || printf '\n[Software\\\\Wine] %s\n"Version"="%s"\n' "$(date +%s)" "$3" >>"$dir/user.reg"
}

# The templates, and one of each set to an old platform, which the scenarios copy as well.
templates() {
  local arch made=0 pids=()
  for arch in "$@"; do make_template "$arch" & pids+=($!); done
  for pid in "${pids[@]}"; do wait "$pid" || made=$?; done
  [ $made = 0 ] || exit $made
  for arch in "$@"; do
    copy_prefix "template-$arch" "template-$arch-win98" win98
    copy_prefix "template-$arch" "template-$arch-nt40" nt40
  done
}

case $own in
  win32)
    templates win32 win64
    copy_prefix template-win32 unit32
    copy_prefix template-win64 wow64
    copy_prefix template-win32-win98 win98
    copy_prefix template-win32-nt40 nt40 ;;
  win64)
    templates win64
    copy_prefix template-win64 unit64
    copy_prefix template-win64-win98 unit64-win98
    copy_prefix template-win64-nt40 unit64-nt40 ;;
  *) sed -n '4,8p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
