#!/usr/bin/env bash
# Builds setup.exe and the bench's programs, then measures setup.exe side by side with the
# floor under Wine on a virtual display: size, first window, download and install, memory.
# Usage: tools/bench.sh [--startup-runs N] [--install-runs N]   (BUILD_DIR overrides the build folder)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=$(realpath -m "${BUILD_DIR:-$top/build}")

bash "$top/tools/deps.sh"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
cmake -S "$top" -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$BUILD_DIR" --target setup launch floor_window floor_progress_bar floor_install floor_install_trust >/dev/null
bash "$top/tools/prefixes.sh" "$BUILD_DIR/prefixes"
bash "$top/tools/reproducible.sh" "$BUILD_DIR/setup.exe"

# The download host is the bench's own, never reached through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export WINEDEBUG=-all
exec python3 "$top/tools/bench.py" "$@"
