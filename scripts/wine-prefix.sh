#!/usr/bin/env bash
# The Wine world of one test run, kept inside the build tree:
#   create DIR [BUILD] - a fresh prefix DIR/prefix (Windows 98) with drives C: (the prefix's
#                 own), D: (DIR/drive_d, test folders) and, when BUILD is given, E: (the build
#                 tree, a CD-ROM to the program, so programs and libraries of the build are at
#                 hand and a search of the fixed drives passes it by); no Z: pointing at the
#                 host's root, so a drive search never walks the host. With QEL_SMALL_DRIVE=1,
#                 F: is a 2 MiB tmpfs mounted on DIR/drive_f, a disk that fills up, and G: a
#                 16 MiB one on DIR/drive_g for the fault campaigns (left out when mount is
#                 not permitted; the tests that need them skip or use D:). Starts one
#                 persistent wineserver.
#   stop DIR    - ends that wineserver and unmounts the tmpfs drives.
# Environment: WINEPREFIX may be preset; DISPLAY must name an X server. The prefix is of the
# kind WINEARCH names and QEL_WINE its loader (as scripts/wine-env.sh chose them); without them,
# of the kind the build tree BUILD was made for.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
action=$1
dir=$(realpath -m "$2")
export WINEPREFIX=${WINEPREFIX:-$dir/prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${QEL_WINE:-}" ] || [ -z "${WINEARCH:-}" ]; then
  if [ -n "${3:-}" ]; then qel_use_tree "$3"; else qel_pick_build "$(dirname "$0")/.."; fi
fi

unmount_small_drive() {
  local drive
  for drive in drive_f drive_g; do
    if mountpoint -q "$dir/$drive" 2>/dev/null; then umount "$dir/$drive" || true; fi
  done
}

case "$action" in
create)
  wineserver -k >/dev/null 2>&1 || true
  unmount_small_drive
  rm -rf "$WINEPREFIX" "$dir/drive_d" "$dir/drive_f" "$dir/drive_g"
  mkdir -p "$dir/drive_d"
  if ! wine wineboot -i >/dev/null 2>&1; then
    echo "wine-prefix.sh: $QEL_WINE wineboot failed ($WINEARCH prefix $WINEPREFIX)" >&2
    exit 1
  fi
  wineserver -w
  rm -f "$WINEPREFIX/dosdevices/z:"
  # The 16-bit system folder every Windows has; a 64-bit prefix gets it only from the 32-bit half.
  mkdir -p "$WINEPREFIX/drive_c/windows/system"
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
  if [ -n "${3:-}" ]; then
    ln -sfn "$(realpath "$3")" "$WINEPREFIX/dosdevices/e:"
    wine reg add 'HKLM\Software\Wine\Drives' /v e: /t REG_SZ /d cdrom /f >/dev/null 2>&1
  fi
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win98 /f >/dev/null 2>&1
  # The drive service reads the drive types when it starts, and the server writes the registry
  # when it ends: once this session has ended by itself, the next one starts with E: a CD-ROM,
  # so a search of the fixed drives passes the build tree by.
  wineserver -w
  # Output to /dev/null: the services the first wine process starts inherit its stdout,
  # and a caller capturing a later wine call would otherwise wait on them forever.
  wineserver -p >/dev/null 2>&1 </dev/null
  # The services start again with the first program; started here, they hold /dev/null, not
  # the output of a test that captures a later program's.
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
  echo "prefix ready: $WINEPREFIX (drives: $(ls "$WINEPREFIX/dosdevices" | tr '\n' ' '))"
  ;;
stop)
  wineserver -k >/dev/null 2>&1 || true
  unmount_small_drive
  ;;
*)
  echo "usage: $0 create|stop DIR" >&2; exit 2 ;;
esac
