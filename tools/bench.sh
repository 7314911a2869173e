#!/usr/bin/env bash
# Builds setup.exe and the bench's programs, then measures setup.exe side by side with the
# floor under Wine on a virtual display: size, first window, download and install, memory.
# The size is the x86 release's. The times are the x86 build's where this machine runs 32-bit
# code, else the x64 build's against floors built for x64: both natively, never emulated.
# Usage: tools/bench.sh [--startup-runs N] [--install-runs N]   (BUILD_DIR overrides the build folder)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
release=$(realpath -m "${BUILD_DIR:-$top/build}")
platform=$top/tools/test-platform

bash "$platform/deps.sh"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
cmake -S "$top" -B "$release" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
if bash "$platform/in-vm.sh" --needed; then
  measured=$release/x64 arch=win64 loader=/usr/lib/wine/wine64
  cmake -S "$top" -B "$measured" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" >/dev/null
  cmake --build "$release" --target setup >/dev/null
else
  measured=$release arch=win32 loader=wine
fi
cmake --build "$measured" --target setup launch floor_window floor_progress_bar floor_install floor_install_trust >/dev/null
bash "$platform/prefixes.sh" "$measured/prefixes" $arch
bash "$top/tools/build-checks/reproducible.sh" "$release/setup.exe"

# The download host is the bench's own, never reached through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export WINEDEBUG=-all BUILD_DIR=$measured WINE=$loader WINE_ARCH=$arch
exec python3 "$top/tools/bench/bench.py" --release "$release/setup.exe" "$@"
