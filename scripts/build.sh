#!/usr/bin/env bash
# Installs what is missing, then configures and builds the three trees:
#   build/native  portable code, tools, unit tests (ASan+UBSan) and fuzzers, with clang;
#   build/win32   SETUP.EXE, the DLLs, the Win32 tests and peers, with MinGW-w64 i686: the product;
#   build/win64   the same from the same sources with MinGW-w64 x86_64, for hosts that run no
#                 32-bit programs. Both Windows trees are built on every host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"

jobs=$(nproc)
configure() {  # TREE [CMAKE ARGS...]
  local tree=$root/build/$1
  shift
  [ -f "$tree/build.ninja" ] || cmake -S "$root" -B "$tree" -G Ninja "$@" >/dev/null
}
CC=clang CXX=clang++ configure native
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
for tree in native win32 win64; do
  # grep hides ninja's progress lines (warnings and errors stay); the second call's status decides.
  ninja -C "$root/build/$tree" -j "$jobs" | grep -v '^\[' || true
  ninja -C "$root/build/$tree" -j "$jobs" >/dev/null
done
