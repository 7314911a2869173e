#!/usr/bin/env bash
# Builds setup.exe and what its scenarios use, then soaks it under Wine on a virtual display:
# the whole install sequence with Cancel at a random moment, and every hostile host of the
# scenarios, many times each, every run judged; ends in a table and a line that says pass or
# fail. Not part of the tests: under an hour by default on two cores (tools/soak/soak.py says more).
# Usage: tools/soak.sh [--cancels N] [--hosts N] [--seed S] [--jobs N] [--out DIR] [--replay KIND:INDEX]
#   The x86 release where this machine runs 32-bit code, else the x64 build, natively either
#   way (BUILD_DIR overrides the build folder; SOAK_BUILD=x64 takes the x64 build anyway).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
release=$(realpath -m "${BUILD_DIR:-$top/build}")
platform=$top/tools/test-platform

bash "$platform/deps.sh"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
if [ "${SOAK_BUILD:-}" = x64 ] || bash "$platform/in-vm.sh" --needed; then
  measured=$release/x64 toolchain=mingw-x86_64 arch=win64 loader=/usr/lib/wine/wine64
else
  measured=$release toolchain=mingw-i686 arch=win32 loader=wine
fi
cmake -S "$top" -B "$measured" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain.cmake" >/dev/null
cmake --build "$measured" --target setup robot platform_probe quorvel_packages >/dev/null
bash "$platform/prefixes.sh" "$measured/prefixes" $arch

# The download host is the soak's own, never reached through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export WINEDEBUG=-all BUILD_DIR=$measured WINE=$loader WINE_ARCH=$arch
exec python3 "$top/tools/soak/soak.py" "$@"
