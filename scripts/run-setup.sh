#!/usr/bin/env bash
# The main job: builds everything, packs the sample update (samples/update) into a SETUP.EXE with
# qelpack, lists it, and runs it under Wine as a user would, from drive D: of a fresh prefix,
# against the sample client folder D:\QEL (arguments replace the default "-T D:\QEL").
# With DISPLAY set it runs on that display and you answer its windows; without, it runs on an
# Xvfb display of its own, the robot answers and a screenshot of each window is kept.
# Afterwards it prints where update.log and the screenshots are, and the log itself.
# Where the host runs no 32-bit programs (or QEL_WIN32=off), the 64-bit build of the same
# sources runs instead, and the first line says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
qel_pick_build "$root"
if [ "$QEL_BUILD_KIND" = win64 ]; then
  if [ "${QEL_WIN32:-}" = off ]; then
    echo "QEL_WIN32=off: running the 64-bit build of the same sources"
  else
    echo "this machine runs no 32-bit programs; running the 64-bit build of the same sources"
  fi
fi
bash "$root/scripts/build.sh"

build=$QEL_BUILD_DIR
demo=$build/demo
bash "$root/scripts/wine-prefix.sh" stop "$demo" >/dev/null 2>&1 || true
interactive=${DISPLAY:+1}
if [ -z "$interactive" ]; then
  source "$root/scripts/xvfb.sh"
  qel_start_xvfb 24
fi
export WINEPREFIX=$demo/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh" create "$demo" "$build" >/dev/null
trap 'bash "$root/scripts/wine-prefix.sh" stop "$demo"; [ -n "${QEL_XVFB_PID:-}" ] && kill $QEL_XVFB_PID 2>/dev/null; true' EXIT

mkdir -p "$demo/drive_d/QELUPD" "$demo/drive_d/shots" "$demo/drive_d/QEL"
qelpack=$root/build/native/tools/qelpack/qelpack
"$qelpack" build "$root/samples/update/manifest.ini" -o "$demo/drive_d/QELUPD/SETUP.EXE" --stub "$build/src/SETUP.EXE"
echo "== the package (qelpack list)"
"$qelpack" list "$demo/drive_d/QELUPD/SETUP.EXE"
[ $# -gt 0 ] || set -- -T 'D:\QEL'

cd "$demo/drive_d"  # a working directory on a Windows drive
echo "== running D:\\QELUPD\\SETUP.EXE $*"
if [ -n "$interactive" ]; then
  wine 'D:\QELUPD\SETUP.EXE' "$@" || true
else
  wine 'E:\tools\robot\robot.exe' --transcript 'D:\shots\transcript.txt' --shots 'D:\shots' \
    --step press:408 -- 'D:\QELUPD\SETUP.EXE' "$@" || true
  for bmp in "$demo"/drive_d/shots/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
  echo "== what the program showed (robot transcript)"
  cat "$demo/drive_d/shots/transcript.txt"
  echo "== screenshots"
  ls "$demo"/drive_d/shots/*.png 2>/dev/null || echo "(none)"
fi

log=$(find "$demo/prefix/drive_c" "$demo/drive_d" -maxdepth 3 -iname update.log 2>/dev/null | head -n 1)
echo "== update.log: ${log:-not written}"
[ -n "$log" ] && cat "$log"
true
