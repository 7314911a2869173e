#!/usr/bin/env bash
# Builds setup.exe and every test program, then runs all tests: the component tests and the
# end-to-end scenarios under Wine on a virtual display. Installs what is missing first.
# Usage: tools/test.sh [ctest arguments...]   (BUILD_DIR overrides the build folder;
#        SETUP_UNDER_TEST=FILE runs the end-to-end scenarios on another build's setup.exe)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$top/build}")

# TEST_BUILT: the run goes on where a first pass left it, on a display or in an emulated machine.
if [ -z "${TEST_BUILT:-}" ]; then
  bash "$top/tools/deps.sh"
  under_test=${SETUP_UNDER_TEST:+$(realpath "$SETUP_UNDER_TEST")}
  scale=1
  ! bash "$top/tools/in-vm.sh" --needed || scale=10
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
        -DSETUP_UNDER_TEST="$under_test" -DTEST_TIME_SCALE=$scale >/dev/null
  cmake --build "$build"
  export TEST_BUILT=1
  exec bash "$top/tools/in-vm.sh" --when-needed --share "$top" --share "$build" bash "$0" "$@"
fi
# Windows need a display: without one, run again on a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
bash "$top/tools/prefixes.sh" "$build/prefixes"

# The downloads under test must go to the servers the tests start, never through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export WINEDEBUG=-all

# One persistent wineserver per shared prefix for the whole run.
shared="unit32 unit64 win98 nt40"
for p in $shared; do WINEPREFIX="$build/prefixes/$p" wineserver -p </dev/null >/dev/null 2>&1; done
status=0
# A failed test runs once more: Wine's X11 driver now and then dies of an X error (BadMatch in
# CreateGC) on the virtual display. A test that fails twice fails the run.
ctest --test-dir "$build" --output-on-failure -j2 --repeat until-pass:2 "$@" || status=$?
for p in $shared; do WINEPREFIX="$build/prefixes/$p" wineserver -k >/dev/null 2>&1 || true; done
exit $status
