#!/usr/bin/env bash
# Builds setup.exe and every test program for x86 (the release) and for x64 from the same
# sources, then runs every test: component tests and end-to-end scenarios under Wine on a
# virtual display, and the build checks. Installs what is missing first.
#
# Usage: tools/test.sh [--x86-all] [ctest arguments...]
#   The x64 build's suite runs natively, in 64-bit prefixes. The x86 build runs its build
#   checks natively; where this machine runs 32-bit code, its whole suite too. Where it does
#   not, an emulated machine (tools/test-platform/in-vm.sh, ten times slower, its time limits
#   scaled to match) runs one scenario of each concern only the x86 binary can show.
#   --x86-all: there, all of the x86 build's suite instead (the check before a release).
#   BUILD_DIR overrides the build folder (the x86 build; the x64 one is BUILD_DIR/x64).
#   SETUP_UNDER_TEST=FILE runs the scenarios on another build's setup.exe, in the build of
#   its processor.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$top/build}")
platform=$top/tools/test-platform
x86_all=
[ "${1:-}" != --x86-all ] || { x86_all=1; shift; }

# The processor a Windows program is built for, from its PE header: 14c x86, 8664 x64.
machine() { od -An -tx2 -N2 -j $(($(od -An -tu4 -N4 -j 60 "$1") + 4)) "$1" | tr -d ' '; }

# TEST_STAGE: where a first pass left the run; on a display, and then in an emulated machine.
case ${TEST_STAGE:-} in
'')
  bash "$platform/deps.sh"
  under_x86= under_x64=
  if [ -n "${SETUP_UNDER_TEST:-}" ]; then
    case $(machine "$SETUP_UNDER_TEST") in
      014c) under_x86=$(realpath "$SETUP_UNDER_TEST") ;;
      8664) under_x64=$(realpath "$SETUP_UNDER_TEST") ;;
      *) echo "test.sh: $SETUP_UNDER_TEST is no x86 or x64 Windows program" >&2; exit 2 ;;
    esac
  fi
  scale=1
  ! bash "$platform/in-vm.sh" --needed || scale=10
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
        -DSETUP_UNDER_TEST="$under_x86" -DTEST_TIME_SCALE=$scale >/dev/null
  cmake -S "$top" -B "$build/x64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" \
        -DSETUP_UNDER_TEST="$under_x64" >/dev/null
  cmake --build "$build"
  cmake --build "$build/x64"
  TEST_STAGE=native exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" ${x86_all:+--x86-all} "$@" ;;
x86)
  # Inside the emulated machine, which has no display of its own.
  [ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" ${x86_all:+--x86-all} "$@" ;;
esac

# The downloads under test must go to the servers the tests start, never through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export WINEDEBUG=-all

# One build's tests: FOLDER ARCH CTEST-ARGS..., in that build's prefixes (ARCH "none": no
# Windows program runs), with one persistent wineserver per shared prefix. A failed test runs
# once more: Wine's X11 driver now and then dies of an X error (BadMatch in CreateGC) on the
# virtual display. A test that fails twice fails the run.
run_tests() {
  local folder=$1 arch=$2 status=0 servers=() p
  shift 2
  if [ "$arch" != none ]; then
    bash "$platform/prefixes.sh" "$folder/prefixes" "$arch"
    for p in "$folder"/prefixes/*/; do
      case $p in */template-*/ | */scenarios/) continue ;; esac
      servers+=("$p")
      WINEPREFIX=$p wineserver -p </dev/null >/dev/null 2>&1
    done
  fi
  ctest --test-dir "$folder" --output-on-failure -j2 --repeat until-pass:2 "$@" || status=$?
  for p in "${servers[@]}"; do WINEPREFIX=$p wineserver -k >/dev/null 2>&1 || true; done
  return $status
}

if [ "$TEST_STAGE" = x86 ]; then
  # The prefixes live in the emulated machine's memory: on its shared folders every file
  # operation costs many times more, and Wine makes thousands.
  mkdir -p "$build/prefixes"
  mount -t tmpfs tmpfs "$build/prefixes"
  echo "test.sh: in the emulated machine, time limits are $(sed -n 's/^TEST_TIME_SCALE:STRING=//p' "$build/CMakeCache.txt") times a real processor's" >&2
  if [ -n "$x86_all" ]; then run_tests "$build" win32 -LE build-check "$@"
  else run_tests "$build" win32 -L x86-sample "$@"; fi
  exit
fi

results=() failed=0
outcome() {  # WHAT STATUS
  [ "$2" = 0 ] && results+=("  $1: passed") || { results+=("  $1: FAILED"); failed=1; }
}
status=0; run_tests "$build/x64" win64 "$@" || status=$?
outcome "x64 build, natively" $status
if bash "$platform/in-vm.sh" --needed; then
  status=0; run_tests "$build" none -L build-check "$@" || status=$?
  outcome "x86 build, its build checks natively" $status
  what="what only the x86 binary can show, one scenario of each concern"
  [ -z "$x86_all" ] || what="the whole suite"
  status=0
  TEST_STAGE=x86 bash "$platform/in-vm.sh" --share "$top" --share "$build" bash "$0" ${x86_all:+--x86-all} "$@" ||
    status=$?
  outcome "x86 build, $what, in the emulated machine" $status
else
  status=0; run_tests "$build" win32 "$@" || status=$?
  outcome "x86 build, natively" $status
fi
echo "test.sh:"
printf '%s\n' "${results[@]}"
exit $failed
