#!/usr/bin/env bash
# Makes the Wine prefixes a test run needs under ROOT: one template per architecture (made
# once, ~10 s each) and light copies of them for the component tests and the old platforms.
# Usage: tools/prefixes.sh ROOT
set -euo pipefail
root=$(realpath -m "$1")
mkdir -p "$root"
export WINEDEBUG=-all
unset DISPLAY  # making a prefix needs no display

make_template() {  # NAME ARCH
  local dir=$root/template-$1
  [ -f "$dir/.ready" ] && return
  rm -rf "$dir"
  WINEARCH=$2 WINEPREFIX=$dir wineboot -i >/dev/null 2>&1
  # Without a window manager Wine waits ~2 s at every hidden or destroyed window unless
  # its windows are unmanaged.
  WINEPREFIX=$dir wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX=$dir wineserver -w
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

make_template win32 win32 &
make_template win64 win64 &
wait
copy_prefix win32 unit32
copy_prefix win64 unit64
copy_prefix win32 win98 win98
copy_prefix win32 nt40 nt40
