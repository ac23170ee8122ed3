#!/usr/bin/env bash
# Refreshes the pictures of README.md's "What the user sees" (docs/screenshots/*.png): the frame
# with the welcome dialog, and with the update progress dialog, its gauge at 2 of 3. The stage
# driver shows them as SETUP.EXE does; scripts/screenshot.sh takes each picture once the robot
# has seen the dialog. Everything runs on a 1024 x 768 Xvfb display and in a Wine prefix of its
# own (build/win32/screenshots, removed at the end), in which Wine draws the window captions
# itself, as there is no window manager to draw them.
#   bash scripts/screenshots.sh        (after scripts/build.sh; QEL_BUILD_DIR may name another
#                                       cross build tree than the one this host runs)
# The 32-bit build where the host runs 32-bit programs, else the 64-bit one (scripts/wine-env.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
given_build=${QEL_BUILD_DIR:-}
qel_pick_build "$root"
build=$(realpath "${given_build:-$QEL_BUILD_DIR}")
qel_use_tree "$build"
out=$root/docs/screenshots
driver='E:\tools\peers\setup_peers\stage_driver.exe'
robot='E:\tools\robot\robot.exe'
[ -f "$build/tools/peers/setup_peers/stage_driver.exe" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }

source "$root/scripts/xvfb.sh"
qel_start_xvfb 24
place=$build/screenshots
export WINEPREFIX=$place/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# stop ends the server and unmounts the prefix's drive F:, which rm could not remove.
trap 'bash "$root/scripts/wine-prefix.sh" stop "$place" || true; rm -rf "$place"; kill $QEL_XVFB_PID 2>/dev/null || true' EXIT
bash "$root/scripts/wine-prefix.sh" create "$place" "$build" >/dev/null
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
mkdir -p "$out"

welcome='Welcome to the Qelmora Sample Update.

This program updates your copy of Qelmora to version 3.1.2. Click Update to install it into the folder shown, or Review to choose another folder.'

# shot NAME DRIVER-ARGS...: the robot takes the dialog without answering it; once it is on the
# screen the picture is taken, and the robot ends the driver when its time is up.
shot() {
  local name=$1
  shift
  rm -f "$place/drive_d/$name.txt"
  wine "$robot" --timeout 4000 --transcript "D:\\$name.txt" --step wait -- "$driver" \
    --frame "Qelmora Sample Update" --quiet "$@" >/dev/null 2>&1 &
  local robot_pid=$!
  for _ in $(seq 300); do
    grep -q '^window 2:' "$place/drive_d/$name.txt" 2>/dev/null && break
    sleep 0.1
  done
  sleep 1
  bash "$root/scripts/screenshot.sh" "$out/$name.png" >/dev/null
  wait "$robot_pid" || true
  echo "$out/$name.png"
}

shot welcome --show 201 --text "$welcome"
shot progress --open 200 --gauge 2/3 --hold 4000
