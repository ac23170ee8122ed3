#!/usr/bin/env bash
# The fault campaigns at length, on the build this host runs (built first by scripts/build.sh):
#   bash tests/faults/long-run.sh [KILLS [SPACE-POINTS LINE-POINTS]]    (500, 60 and 30)
#   QEL_FAULT_STREAMS  the kill streams (2)
# The kills are shared among parallel streams, stream N drawing its delays from seed 6+N; the
# disk-full campaign runs beside them. Each campaign has a prefix (BUILD/wine-long/NAME) and an
# Xvfb display of its own, so that neither they nor a test run beside them disturb each other;
# the prefixes are copies of one template (scripts/wine-prefix.sh).
# A kill round is mostly waiting on Wine's start-up, so the streams share two cores well.
# When all have ended, each campaign's output is printed, then the kill totals and durations.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-env.sh"
qel_pick_build "$root"
source "$root/scripts/xvfb.sh"
long=$QEL_BUILD_DIR/wine-long
kills=${1:-500}
streams=${QEL_FAULT_STREAMS:-2}
export QEL_SOURCE_DIR=$root QEL_NATIVE_DIR=$root/build/native
export TZ=UTC WINEDLLOVERRIDES="mscoree,mshtml="

names=() pids=() displays=()
cleanup() {
  local name
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for name in "${names[@]}"; do
    WINEPREFIX=$long/$name/prefix bash "$root/scripts/wine-prefix.sh" stop "$long/$name" || true
  done
  for pid in "${displays[@]}"; do kill "$pid" 2>/dev/null || true; done
}

# campaign NAME SCRIPT VAR=VALUE...: runs the campaign script in the background, in its own
# prefix and on its own display; its output goes to $long/NAME.log, its seconds and exit status
# to $long/NAME.end.
campaign() {
  local name=$1 script=$2 dir=$long/$1
  shift 2
  qel_start_xvfb 24
  trap cleanup EXIT  # in place of the one that ends this display alone
  displays+=("$QEL_XVFB_PID")
  names+=("$name")
  mkdir -p "$long"
  (
    export WINEPREFIX=$dir/prefix QEL_WINE_DIR=$dir
    started=$(date +%s) rc=0
    QEL_SMALL_DRIVE=1 bash "$root/scripts/wine-prefix.sh" copy "$long/template" "$dir" &&
      env "$@" bash "$root/tests/faults/$script" || rc=$?
    echo "$(($(date +%s) - started)) $rc" >"$long/$name.end"
  ) >"$long/$name.log" 2>&1 &
  pids+=($!)
}

started=$(date +%s)
rm -f "$long"/*.end
# The campaigns' prefixes are copies of one template, as the test run's worlds are.
qel_start_xvfb 24
displays+=("$QEL_XVFB_PID")
trap cleanup EXIT
bash "$root/scripts/wine-prefix.sh" template "$long/template" "$QEL_BUILD_DIR"
for n in $(seq 1 "$streams"); do
  share=$((kills / streams + (n <= kills % streams ? 1 : 0)))
  campaign "kills-$n" kill.sh QEL_FAULT_KILLS=$share QEL_FAULT_SEED=$((6 + n))
done
campaign full disk_full.sh QEL_FAULT_SPACE_POINTS=${2:-60} QEL_FAULT_LINE_POINTS=${3:-30}
wait "${pids[@]}" || true

status=0 tried=0 landed=0
for name in "${names[@]}"; do
  echo "== $name"
  cat "$long/$name.log"
  read -r seconds rc <"$long/$name.end" || { seconds=?; rc=1; }
  [ "$rc" = 0 ] || status=1
  echo "$name: $seconds s, exit status $rc"
  if figures=$(grep -E '^kills tried: [0-9]+, landed mid-run: [0-9]+$' "$long/$name.log"); then
    set -- $(tr -cs '0-9' ' ' <<<"$figures")
    tried=$((tried + $1)) landed=$((landed + $2))
  fi
done
echo "== all"
echo "kills tried: $tried in $streams streams, landed mid-run: $landed"
echo "long run: $(($(date +%s) - started)) s ($QEL_BUILD_KIND), exit status $status"
exit $status
