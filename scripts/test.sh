#!/usr/bin/env bash
# Every test of the project: the native unit tests and bounded fuzz runs, then the Win32 tests
# and end-to-end scenarios under Wine, for the 32-bit build where this host runs 32-bit programs
# and for the 64-bit twin always. The two Win32 suites run side by side, each test in a world
# of its own (scripts/wine-test.sh), QEL_TEST_JOBS of them at a time per suite (3). Ends with one
# line per suite with its wall time, and the total; exit 0 only when every suite that could run
# passed. QEL_WIN32=off takes the 64-bit-only path on any host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
bash "$root/scripts/build.sh"
jobs=${QEL_TEST_JOBS:-3}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

status=0
summary=()
passed_total=0
failed_total=0
# run_suite NAME TREE [CTEST ARGS...]: runs the tree's tests; its output goes to a log of its own,
# and its wall time and exit status beside it.
run_suite() {
  local name=$1 tree=$2 log=$logs/$(basename "$2") started rc=0
  shift 2
  echo "$name" >"$log.name"
  started=$(date +%s)
  ctest --test-dir "$tree" --output-on-failure "$@" >"$log" 2>&1 || rc=$?
  echo "$(($(date +%s) - started)) $rc" >"$log.end"
}
# report TREE: prints the suite's output and records how it ended.
report() {
  local log=$logs/$(basename "$1") name seconds rc counts failed out_of
  name=$(cat "$log.name")
  read -r seconds rc <"$log.end"
  echo "== $name"
  cat "$log"
  counts=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$counts" ]; then
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
}

started=$(date +%s)
run_suite "native tests" "$root/build/native" -j "$(nproc)"
report "$root/build/native"

pids=()
if qel_runs_32bit; then
  run_suite "32-bit Win32 tests under Wine" "$root/build/win32" -j "$jobs" &
else
  summary+=("32-bit Win32 tests under Wine: not possible here: $(qel_why_no_32bit)")
  # What reads the 32-bit images without running them still runs.
  run_suite "32-bit build, checks that run no program" "$root/build/win32" -L static &
fi
pids+=($!)
run_suite "64-bit Win32 tests under Wine (the twin)" "$root/build/win64" -j "$jobs" &
pids+=($!)
wait "${pids[@]}" || true
report "$root/build/win32"
report "$root/build/win64"

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "all suites: $(($(date +%s) - started)) s"
echo "tests: $passed_total passed, $failed_total failed"
exit $status
