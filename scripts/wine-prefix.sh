#!/usr/bin/env bash
# The Wine worlds of the scripts and tests, kept inside the build tree:
#   create DIR [BUILD]   - a fresh prefix DIR/prefix (Windows 98) with its drives (below), and its
#                          persistent wineserver started.
#   template DIR BUILD   - a fresh prefix DIR/prefix with drive E: only and no server running:
#                          the one that `copy` makes every test's world from.
#   copy TEMPLATE DIR    - DIR/prefix made from TEMPLATE/prefix in a fraction of a second, with
#                          its own drives and its persistent wineserver started. The system's
#                          libraries, which nothing writes, are hard links into the template;
#                          every other file is a copy of its own.
#   stop DIR             - ends DIR's wineserver and unmounts its tmpfs drives.
# The drives: C: is the prefix's own, D: is DIR/drive_d for the tests' folders, E: (given BUILD)
# the build tree, a CD-ROM to the program, so programs and libraries of the build are at hand and
# a search of the fixed drives passes it by. There is no Z: pointing at the host's root, so a
# drive search never walks the host. With QEL_SMALL_DRIVE=1, F: is a 2 MiB tmpfs mounted on
# DIR/drive_f, a disk that fills up, and G: a 16 MiB one on DIR/drive_g for the fault campaigns
# (left out when mount is not permitted; the tests that need them skip or use D:).
# Environment: DISPLAY must name an X server for create and template. The prefix is always
# DIR/prefix; it is of the kind WINEARCH names and QEL_WINE its loader (as scripts/wine-env.sh
# chose them); without them, of the kind the build tree BUILD was made for.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
action=$1
dir=$(realpath -m "$2")
export WINEPREFIX=$dir/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
build=${3:-}
[ "$action" != copy ] || build=
if [ -z "${QEL_WINE:-}" ] || [ -z "${WINEARCH:-}" ]; then
  if [ -n "$build" ]; then qel_use_tree "$build"; else qel_pick_build "$(dirname "$0")/.."; fi
fi

unmount_small_drives() {
  local drive
  for drive in drive_f drive_g; do
    if mountpoint -q "$dir/$drive" 2>/dev/null; then umount "$dir/$drive" || true; fi
  done
}

stop_server() {
  [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1 || true
}

# A new prefix, booted and set to Windows 98, E: the build tree when BUILD is given; its server
# has ended by itself, so the registry is on disk.
boot_prefix() {
  stop_server
  unmount_small_drives
  rm -rf "$WINEPREFIX" "$dir/drive_d" "$dir/drive_f" "$dir/drive_g"
  mkdir -p "$dir"
  if ! wine wineboot -i >/dev/null 2>&1; then
    echo "wine-prefix.sh: $QEL_WINE wineboot failed ($WINEARCH prefix $WINEPREFIX)" >&2
    exit 1
  fi
  wineserver -w
  rm -f "$WINEPREFIX/dosdevices/z:"
  # The 16-bit system folder every Windows has; a 64-bit prefix gets it only from the 32-bit half.
  mkdir -p "$WINEPREFIX/drive_c/windows/system"
  if [ -n "$build" ]; then
    ln -sfn "$(realpath "$build")" "$WINEPREFIX/dosdevices/e:"
    wine reg add 'HKLM\Software\Wine\Drives' /v e: /t REG_SZ /d cdrom /f >/dev/null 2>&1
  fi
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win98 /f >/dev/null 2>&1
  # The drive service reads the drive types when it starts, and the server writes the registry
  # when it ends: once this session has ended by itself, the next one starts with E: a CD-ROM,
  # so a search of the fixed drives passes the build tree by.
  wineserver -w
}

# Drives D: and, with QEL_SMALL_DRIVE=1, F: and G: of DIR.
attach_drives() {
  mkdir -p "$dir/drive_d"
  ln -sfn "$dir/drive_d" "$WINEPREFIX/dosdevices/d:"
  if [ "${QEL_SMALL_DRIVE:-}" = 1 ]; then
    mkdir -p "$dir/drive_f"
    if mount -t tmpfs -o size=2m tmpfs "$dir/drive_f" 2>/dev/null; then
      ln -sfn "$dir/drive_f" "$WINEPREFIX/dosdevices/f:"
      mkdir -p "$dir/drive_g"
      mount -t tmpfs -o size=16m tmpfs "$dir/drive_g"
      ln -sfn "$dir/drive_g" "$WINEPREFIX/dosdevices/g:"
    else
      echo "no tmpfs for drives F: and G: (mount not permitted); the disk-full tests will skip"
    fi
  fi
}

start_server() {
  # Output to /dev/null: the services the first wine process starts inherit its stdout,
  # and a caller capturing a later wine call would otherwise wait on them forever.
  wineserver -p >/dev/null 2>&1 </dev/null
  # The services start again with the first program; started here, they hold /dev/null, not
  # the output of a test that captures a later program's.
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

case "$action" in
create)
  boot_prefix
  attach_drives
  start_server
  echo "prefix ready: $WINEPREFIX (drives: $(ls "$WINEPREFIX/dosdevices" | tr '\n' ' '))"
  ;;
template)
  [ -n "$build" ] || { echo "usage: $0 template DIR BUILD" >&2; exit 2; }
  boot_prefix
  # Wine's X11 driver waits up to 2 s for a window manager to withdraw each window a program
  # hides, and Xvfb runs none: the tests' windows are unmanaged, which Wine takes down at once.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  echo "template ready: $WINEPREFIX"
  ;;
copy)
  template=$dir/prefix
  dir=$(realpath -m "$3")
  export WINEPREFIX=$dir/prefix
  [ -f "$template/system.reg" ] || { echo "wine-prefix.sh: no template prefix in $template" >&2; exit 1; }
  stop_server
  unmount_small_drives
  rm -rf "$WINEPREFIX" "$dir/drive_d" "$dir/drive_f" "$dir/drive_g"
  mkdir -p "$dir"
  # Links first, then a copy of its own for every file that is not a system library: the
  # registry, WIN.INI and whatever else a program may write in place.
  cp -al "$template" "$WINEPREFIX"
  find "$WINEPREFIX" -type f ! -iname '*.dll' ! -iname '*.exe' ! -iname '*.drv' ! -iname '*.sys' \
    ! -iname '*.acm' ! -iname '*.ocx' ! -iname '*.cpl' ! -iname '*.tlb' ! -iname '*.nls' \
    ! -iname '*.msstyles' -exec sh -c 'for f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f"; done' sh {} +
  # The drive links are links of their own, not hard links to the template's.
  for link in "$WINEPREFIX"/dosdevices/*; do
    target=$(readlink "$link") || continue
    rm -f "$link"
    ln -s "$target" "$link"
  done
  attach_drives
  start_server
  ;;
stop)
  stop_server
  unmount_small_drives
  ;;
*)
  echo "usage: $0 create|template|copy|stop DIR ..." >&2; exit 2 ;;
esac
