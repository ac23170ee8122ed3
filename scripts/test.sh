#!/usr/bin/env bash
# Every test of the project: the native unit tests and bounded fuzz runs, then the Win32 tests
# and end-to-end scenarios under Wine (on an Xvfb display of their own). Exit 0 only when all pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"

status=0
echo "== native tests"
ctest --test-dir "$root/build/native" --output-on-failure -j "$(nproc)" || status=1

echo "== Win32 tests under Wine"
source "$root/scripts/xvfb.sh"
qel_start_xvfb 24
ctest --test-dir "$root/build/win32" --output-on-failure || status=1
exit $status
