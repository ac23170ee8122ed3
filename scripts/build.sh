#!/usr/bin/env bash
# Installs what is missing, then configures and builds both trees:
#   build/native  portable code, tools, unit tests (ASan+UBSan) and fuzzers, with clang;
#   build/win32   SETUP.EXE, the DLLs, the Win32 tests and peers, with MinGW-w64 i686.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"

jobs=$(nproc)
if [ ! -f "$root/build/native/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/native" -G Ninja >/dev/null
fi
if [ ! -f "$root/build/win32/build.ninja" ]; then
  cmake -S "$root" -B "$root/build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
ninja -C "$root/build/native" -j "$jobs" | grep -v '^\[' || true
ninja -C "$root/build/win32" -j "$jobs" | grep -v '^\[' || true
# grep hides ninja's progress lines; the builds' own status decides.
ninja -C "$root/build/native" -j "$jobs" >/dev/null
ninja -C "$root/build/win32" -j "$jobs" >/dev/null
