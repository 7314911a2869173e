#!/usr/bin/env bash
# Builds setup.exe and runs it under Wine as a user would meet it: the usage text, then the
# whole installation of Quorvel from its built-in download address (a local test host).
# With a display the windows appear on it; without one (or in an emulated machine, see
# tools/test-platform/in-vm.sh) they run on a virtual display.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=$(realpath -m "${BUILD_DIR:-$top/build}")
# DEMO_BUILT: the second pass, here or in an emulated machine.
if [ -z "${DEMO_BUILT:-}" ]; then
  bash "$top/tools/test-platform/deps.sh"
  cmake -S "$top" -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$BUILD_DIR" --target setup robot quorvel_packages >/dev/null
  export DEMO_BUILT=1
  exec bash "$top/tools/test-platform/in-vm.sh" --when-needed --share "$top" --share "$BUILD_DIR" bash "$0"
fi
bash "$top/tools/test-platform/prefixes.sh" "$BUILD_DIR/prefixes" win32
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export WINEDEBUG=-all
if [ -n "${DISPLAY:-}" ]; then
  DEMO_VISIBLE=1 exec python3 "$top/tools/demo/demo.py"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" python3 "$top/tools/demo/demo.py"
