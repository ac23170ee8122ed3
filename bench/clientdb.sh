#!/usr/bin/env bash
# Client database benchmark: the record access of bench/clientdb.cpp under Wine (the program's own
# code and file calls) and natively, then the open by scan as the merge meets MAIN.IDX (no index
# file): the same files of 20,000 and 200,000 records scanned natively and under Wine in this run.
#
#   bash scripts/build.sh && bash bench/clientdb.sh [--rounds N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=3
[ "${1:-}" = --rounds ] && rounds=${2:?--rounds needs a number}

source "$root/scripts/wine-env.sh"
qel_pick_build "$root"
build=$QEL_BUILD_DIR
native=$root/build/native/bench/clientdb
for program in "$build/bench/clientdb.exe" "$native"; do
  [ -f "$program" ] || { echo "clientdb.sh: $program missing: run scripts/build.sh first" >&2; exit 1; }
done

work=$root/build/bench-clientdb
source "$root/scripts/xvfb.sh"
qel_start_xvfb 24
export WINEPREFIX=$work/wine/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'bash "$root/scripts/wine-prefix.sh" stop "$work/wine" >/dev/null 2>&1; kill $QEL_XVFB_PID 2>/dev/null; true' EXIT
bash "$root/scripts/wine-prefix.sh" create "$work/wine" "$build" >/dev/null
drive_d=$work/wine/drive_d
echo "$QEL_BUILD_KIND build"
wine 'E:\bench\clientdb.exe' --rounds "$rounds" 'D:' | tr -d '\r'
echo "native:"
"$native" --rounds "$rounds" "$drive_d"

echo "open by scan (no index file), best of 5, the same file natively and under Wine:"
printf '%8s %10s %10s %11s\n' records "native s" "wine s" "wine/native"
declare -A wine_time
for count in 20000 200000; do
  file=scan_$count.idx
  rm -f "$drive_d/$file"
  native_s=$("$native" --scan "$drive_d/$file" "$count" 5 | awk '{print $3}')
  wine_s=$(wine 'E:\bench\clientdb.exe' --scan "D:\\$file" "$count" 5 | tr -d '\r' | awk '{print $3}')
  wine_time[$count]=$wine_s
  awk -v n="$count" -v a="$native_s" -v b="$wine_s" 'BEGIN { printf "%8d %10.4f %10.4f %11.1f\n", n, a, b, b / a }' 
  rm -f "$drive_d/$file"
done
awk -v a="${wine_time[20000]}" -v b="${wine_time[200000]}" 'BEGIN { printf "t(200k)/t(20k) of the scan under Wine = %.2f (at most 12)\n", b / a }' 
