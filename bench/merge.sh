#!/usr/bin/env bash
# Merge benchmark: the merge stage (bench/merge.exe, the program's own merge_databases) on a
# MAIN.IDX of 100,000 records and a MERGE.DB of 5,000 and of 50,000, on drive D: of a throwaway
# prefix, against a plain copy of the same bytes in the same run.
#
#   bash scripts/build.sh && bash bench/merge.sh [--rounds N]
# It runs once with the database's flushes to the disk and once without, to show their share.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=1
[ "${1:-}" = --rounds ] && rounds=${2:?--rounds needs a number}

source "$root/scripts/wine-env.sh"
qel_pick_build "$root"
build=$QEL_BUILD_DIR
[ -f "$build/bench/merge.exe" ] || { echo "merge.sh: $build/bench/merge.exe missing: run scripts/build.sh first" >&2; exit 1; }

work=$root/build/bench-merge
source "$root/scripts/xvfb.sh"
qel_start_xvfb 24
export WINEPREFIX=$work/wine/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'bash "$root/scripts/wine-prefix.sh" stop "$work/wine" >/dev/null 2>&1; kill $QEL_XVFB_PID 2>/dev/null; true' EXIT
bash "$root/scripts/wine-prefix.sh" create "$work/wine" "$build" >/dev/null
# Unmanaged windows, as in the tests: Xvfb runs no window manager, and Wine waits 2 s for one to
# withdraw each managed window a program closes (the merge's dialog).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
echo "$QEL_BUILD_KIND build"
wine 'E:\bench\merge.exe' --rounds "$rounds" 'D:' | tr -d '\r'
wine 'E:\bench\merge.exe' --no-flush --rounds "$rounds" 'D:' | tr -d '\r'
