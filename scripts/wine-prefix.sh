#!/usr/bin/env bash
# The Wine world of one test run, kept inside the build tree:
#   create DIR [BUILD] - a fresh prefix DIR/prefix (Windows 98) with drives C: (the prefix's
#                 own), D: (DIR/drive_d, test folders) and, when BUILD is given, E: (the build
#                 tree, a CD-ROM to the program, so programs and libraries of the build are at
#                 hand and a search of the fixed drives passes it by); no Z: pointing at the
#                 host's root, so a drive search never walks the host; F: (DIR/drive_f), a
#                 2 MiB tmpfs whose free space nothing else changes, for tests at the exact edge
#                 of a full drive (left unmapped when mounting is not allowed). Starts one
#                 persistent wineserver.
#   stop DIR    - ends that wineserver and unmounts F:.
# Environment: WINEPREFIX may be preset; DISPLAY must name an X server.
set -euo pipefail
action=$1
dir=$(realpath -m "$2")
export WINEPREFIX=${WINEPREFIX:-$dir/prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32

case "$action" in
create)
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$dir/drive_d"
  mkdir -p "$dir/drive_d"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Output to /dev/null: the services the first wine process starts inherit its stdout,
  # and a caller capturing a later wine call would otherwise wait on them forever.
  wineserver -p >/dev/null 2>&1 </dev/null
  rm -f "$WINEPREFIX/dosdevices/z:"
  ln -sfn "$dir/drive_d" "$WINEPREFIX/dosdevices/d:"
  mkdir -p "$dir/drive_f"
  umount "$dir/drive_f" >/dev/null 2>&1 || true
  if mount -t tmpfs -o size=2m qel_drive_f "$dir/drive_f" >/dev/null 2>&1; then
    ln -sfn "$dir/drive_f" "$WINEPREFIX/dosdevices/f:"
  fi
  if [ -n "${3:-}" ]; then
    ln -sfn "$(realpath "$3")" "$WINEPREFIX/dosdevices/e:"
    wine reg add 'HKLM\Software\Wine\Drives' /v e: /t REG_SZ /d cdrom /f >/dev/null 2>&1
  fi
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win98 /f >/dev/null 2>&1
  echo "prefix ready: $WINEPREFIX (drives: $(ls "$WINEPREFIX/dosdevices" | tr '\n' ' '))"
  ;;
stop)
  wineserver -k >/dev/null 2>&1 || true
  umount "$dir/drive_f" >/dev/null 2>&1 || true
  ;;
*)
  echo "usage: $0 create|stop DIR" >&2; exit 2 ;;
esac
