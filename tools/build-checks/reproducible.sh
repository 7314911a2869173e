#!/usr/bin/env bash
# Builds setup.exe from a copy of the sources in another folder and checks that it is
# byte-identical to the given one.  Usage: tools/build-checks/reproducible.sh SETUP_EXE
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
reference=$(realpath "$1")
work=$(mktemp -d /tmp/quorvel-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
copy=$work/elsewhere/sources
mkdir -p "$copy"
tar -C "$top" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$copy" -xf -
cmake -S "$copy" -B "$work/out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-i686.cmake" \
      -DSETUP_TESTS=OFF >/dev/null
cmake --build "$work/out" --target setup >/dev/null
if cmp "$reference" "$work/out/setup.exe"; then
  echo "reproducible: $(stat -c %s "$reference") bytes, identical when built in another folder"
else
  echo "NOT reproducible: $reference differs from a build in $work" >&2
  exit 1
fi
