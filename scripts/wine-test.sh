#!/usr/bin/env bash
# Runs one Win32 test in a world of its own, so that tests run side by side and none sees what
# another left: a prefix copied from the run's template, its own drives D:, F: and G:, its own
# wineserver and its own Xvfb display.
#   wine-test.sh NAME [--before SCRIPT] -- COMMAND...
# The world is QEL_WINE_DIR/tests/NAME; the command runs with QEL_WINE_DIR and WINEPREFIX naming
# it, DISPLAY its display. SCRIPT (run with bash, in the same environment) prepares what the
# command needs. When the command fails the world is kept, with what the test left on D:, and
# its place is printed; when it passes the prefix is removed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
source "$here/xvfb.sh"
: "${QEL_WINE_DIR:?}" "${QEL_WINE:?}"
name=$1
shift
before=
if [ "${1:-}" = --before ]; then
  before=$2
  shift 2
fi
[ "${1:-}" = -- ] && shift

template=$QEL_WINE_DIR/template
world=$QEL_WINE_DIR/tests/$name
# QEL_WINE_TEMPLATE for a test that needs a second world, on a display of another depth.
export QEL_WINE_DIR=$world WINEPREFIX=$world/prefix QEL_WINE_TEMPLATE=$template

# What a run that was itself killed (a test's time-out) left: its display and its server.
if [ -f "$world/xvfb.pid" ]; then kill "$(cat "$world/xvfb.pid")" 2>/dev/null || true; fi
end_world() {
  bash "$here/wine-prefix.sh" stop "$world" >/dev/null 2>&1 || true
  kill "$QEL_XVFB_PID" 2>/dev/null || true
  rm -f "$world/xvfb.pid"
}
mkdir -p "$world"
qel_spawn_xvfb 24
echo "$QEL_XVFB_PID" >"$world/xvfb.pid"
trap end_world EXIT
QEL_SMALL_DRIVE=1 bash "$here/wine-prefix.sh" copy "$template" "$world"

rc=0
if [ -n "$before" ]; then bash "$before" || rc=$?; fi
[ "$rc" -ne 0 ] || "$@" || rc=$?
end_world
trap - EXIT
if [ "$rc" -eq 0 ]; then
  rm -rf "$WINEPREFIX"
else
  echo "$name: its world is kept in $world (the test's folders in $world/drive_d)"
fi
exit "$rc"
