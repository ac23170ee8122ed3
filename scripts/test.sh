#!/usr/bin/env bash
# Every test of the project: the native unit tests and bounded fuzz runs, then the Win32 tests
# and end-to-end scenarios under Wine (on an Xvfb display of their own), for the 32-bit build
# where this host runs 32-bit programs and for the 64-bit twin always. Ends with one line per
# suite; exit 0 only when every suite that could run passed.
# QEL_WIN32=off takes the 64-bit-only path on any host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
bash "$root/scripts/build.sh"

status=0
summary=()
passed_total=0
failed_total=0
# suite NAME TREE [CTEST ARGS...]: runs the tree's tests and records how they ended.
suite() {
  local name=$1 tree=$2 log started rc=0
  shift 2
  log=$(mktemp)
  started=$(date +%s)
  echo "== $name"
  ctest --test-dir "$tree" --output-on-failure "$@" 2>&1 | tee "$log" || rc=$?
  local seconds=$(($(date +%s) - started))
  local counts
  counts=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$counts" ]; then
    local failed out_of
    failed=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$counts")
    out_of=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$counts")
    passed_total=$((passed_total + out_of - failed))
    failed_total=$((failed_total + failed))
  else
    rc=1
  fi
  if [ "$rc" -eq 0 ]; then
    summary+=("$name: ran and passed (${counts#*, }, ${seconds} s)")
  else
    summary+=("$name: ran and FAILED (${counts:-no test summary}, ${seconds} s)")
    status=1
  fi
  rm -f "$log"
}

suite "native tests" "$root/build/native" -j "$(nproc)"

source "$root/scripts/xvfb.sh"
qel_start_xvfb 24
if qel_runs_32bit; then
  suite "32-bit Win32 tests under Wine" "$root/build/win32"
else
  summary+=("32-bit Win32 tests under Wine: not possible here: $(qel_why_no_32bit)")
  # What reads the 32-bit images without running them still runs.
  suite "32-bit build, checks that run no program" "$root/build/win32" -L static
fi
suite "64-bit Win32 tests under Wine (the twin)" "$root/build/win64"

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "tests: $passed_total passed, $failed_total failed"
exit $status
