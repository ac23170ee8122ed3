#!/usr/bin/env bash
# The fault campaigns at length, on the build this host runs (built first by scripts/build.sh),
# in a prefix of their own (BUILD/wine-long) so that a test run beside them is not disturbed:
#   bash tests/faults/long-run.sh [KILLS [SPACE-POINTS LINE-POINTS]]    (500, 60 and 30)
# Each campaign's figures end its output; the durations follow.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-env.sh"
qel_pick_build "$root"
source "$root/scripts/xvfb.sh"
qel_start_xvfb 24
wine_dir=$QEL_BUILD_DIR/wine-long
export WINEPREFIX=$wine_dir/prefix QEL_WINE_DIR=$wine_dir QEL_SOURCE_DIR=$root QEL_NATIVE_DIR=$root/build/native
export TZ=UTC WINEDLLOVERRIDES="mscoree,mshtml="
QEL_SMALL_DRIVE=1 bash "$root/scripts/wine-prefix.sh" create "$wine_dir" "$QEL_BUILD_DIR"
trap 'bash "$root/scripts/wine-prefix.sh" stop "$wine_dir"; kill $QEL_XVFB_PID 2>/dev/null || true' EXIT

status=0
started=$(date +%s)
QEL_FAULT_KILLS=${1:-500} QEL_FAULT_SEED=${QEL_FAULT_SEED:-7} bash "$root/tests/faults/kill.sh" || status=1
killed=$(date +%s)
QEL_FAULT_SPACE_POINTS=${2:-60} QEL_FAULT_LINE_POINTS=${3:-30} bash "$root/tests/faults/disk_full.sh" || status=1
echo "kill campaign: $((killed - started)) s; disk-full campaign: $(($(date +%s) - killed)) s ($QEL_BUILD_KIND)"
exit $status
