#!/usr/bin/env bash
# Long fuzzing runs of every libFuzzer target, for as many seconds each as given (default one
# hour, a nightly run). New inputs go to build/native/fuzz/corpus/<target>, the committed seeds
# in fuzz/corpus are only read. Needs `bash scripts/build.sh` first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-3600}
for target in package_reader_fuzz clientdb_fuzz command_line_fuzz text_format_fuzz unzip_fuzz; do
  found=$root/build/native/fuzz/corpus/$target
  mkdir -p "$found"
  echo "== $target, $seconds s"
  "$root/build/native/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    "$found" "$root/fuzz/corpus/$target" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|crash' || true
done
