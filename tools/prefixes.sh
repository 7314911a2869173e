#!/usr/bin/env bash
# Makes the Wine prefixes a test run needs under ROOT: one template per architecture (made
# once, ~10 s each) and light copies of them for the component tests and the old platforms.
# Usage: tools/prefixes.sh ROOT
set -euo pipefail
root=$(realpath -m "$1")
mkdir -p "$root"
export WINEDEBUG=-all
unset DISPLAY  # making a prefix needs no display

# setup.exe and every test program are 32-bit: Wine runs them with its 32-bit x86 loader, a
# Linux program that a kernel or hypervisor without IA-32 support refuses ("Exec format error").
if ! out=$(/usr/lib/wine/wine --version 2>&1); then
  echo "prefixes: this machine cannot run Wine's 32-bit loader, so no 32-bit Windows program runs here:" >&2
  echo "  /usr/lib/wine/wine: $out" >&2
  dmesg 2>/dev/null | grep -i -e 'ia-32 emulation' -e '32-bit emulation' >&2 || true
  echo "  (tools/test.sh and tools/demo.sh run them in an emulated machine: tools/in-vm.sh)" >&2
  exit 2
fi

make_template() {  # NAME ARCH
  local dir=$root/template-$1
  [ -f "$dir/.ready" ] && return
  rm -rf "$dir"
  WINEARCH=$2 WINEPREFIX=$dir wineboot -i >/dev/null 2>&1
  # Without a window manager Wine waits ~2 s at every hidden or destroyed window unless
  # its windows are unmanaged.
  WINEPREFIX=$dir wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX=$dir wineserver -w
  [ -f "$dir/drive_c/windows/system32/kernel32.dll" ] ||
    { echo "prefixes: Wine did not make the $2 prefix $dir" >&2; return 1; }
  touch "$dir/.ready"
}

# A copy that shares the template's files; the registry files are its own, since the
# wineserver rewrites them.
copy_prefix() {  # TEMPLATE NAME [WINDOWS-VERSION]
  local dir=$root/$2
  rm -rf "$dir"
  cp -al "$root/template-$1" "$dir"
  for f in system.reg user.reg userdef.reg; do cp --remove-destination "$root/template-$1/$f" "$dir/$f"; done
  rm -f "$dir/.ready"
  if [ -n "${3:-}" ]; then
    WINEPREFIX=$dir wine reg add 'HKCU\Software\Wine' /v Version /d "$3" /f >/dev/null 2>&1
    WINEPREFIX=$dir wineserver -w
  fi
}

make_template win32 win32 & win32=$!
make_template win64 win64 & win64=$!
made=0
wait $win32 || made=$?
wait $win64 || made=$?
[ $made = 0 ] || exit $made
copy_prefix win32 unit32
copy_prefix win64 unit64
copy_prefix win32 win98 win98
copy_prefix win32 nt40 nt40
