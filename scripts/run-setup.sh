#!/usr/bin/env bash
# The main job: builds everything, lays out the sample client installation in D:\QEL of a fresh
# prefix (recorded in the registry as the client's directory), packs the sample update
# (samples/update) into D:\QELUPD\SETUP.EXE with qelpack, and runs it under Wine as a user would:
#   run-setup.sh              the interactive update: the client is found through the registry,
#                             then the welcome dialog (Update), the progress and closing dialogs
#   run-setup.sh -T 'D:\QEL' -D the unattended update: no dialog on success
# (any arguments are handed to SETUP.EXE as they stand).
# With DISPLAY set it runs on that display and you answer its windows; without, it runs on an
# Xvfb display of its own, the robot answers and a screenshot of each window is kept.
# Afterwards it prints the robot's transcript, the files of D:\QEL that changed (name, size
# before and after), the records of IDB\MAIN.IDX that changed (qeldb dump before and after),
# the WIN.INI lines, registry values, help contents lines, PIF and Start Menu shortcut that the
# update wrote, update.log and the screenshots' paths.
# Where the host runs no 32-bit programs (or QEL_WIN32=off), the 64-bit build of the same
# sources runs instead, and the line after the build says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
# Built (and Wine installed) first: which build runs depends on the 32-bit loader being there.
bash "$root/scripts/build.sh"
qel_pick_build "$root"
if [ "$QEL_BUILD_KIND" = win64 ]; then
  echo "$(qel_why_no_32bit); running the 64-bit build of the same sources"
fi

build=$QEL_BUILD_DIR
# Beside the build tree, not inside it: the test prefix's E: is the build tree, and an updated
# sample client in there would be one more client for the tests' drive searches to find.
demo=$root/build/demo-$QEL_BUILD_KIND
bash "$root/scripts/wine-prefix.sh" stop "$demo" >/dev/null 2>&1 || true
interactive=${DISPLAY:+1}
if [ -z "$interactive" ]; then
  source "$root/scripts/xvfb.sh"
  qel_start_xvfb 24
fi
export WINEPREFIX=$demo/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh" create "$demo" "$build" >/dev/null
trap 'bash "$root/scripts/wine-prefix.sh" stop "$demo"; [ -n "${QEL_XVFB_PID:-}" ] && kill $QEL_XVFB_PID 2>/dev/null; true' EXIT

mkdir -p "$demo/drive_d/QELUPD" "$demo/drive_d/shots"
client=$demo/drive_d/QEL
bash "$root/scripts/sample-client.sh" "$client" "$build" "$root/build/native" 'D:\QEL'
qelpack=$root/build/native/tools/qelpack/qelpack
"$qelpack" build "$root/samples/update/manifest.ini" -o "$demo/drive_d/QELUPD/SETUP.EXE" --stub "$build/src/SETUP.EXE"
echo "== the package (qelpack list)"
"$qelpack" list "$demo/drive_d/QELUPD/SETUP.EXE"

# Name and size of every file of the client's folder, for the comparison afterwards.
listing() { (cd "$client" && find . -type f -printf '%P %s\n' | sort); }
listing >"$demo/before.txt"
qeldb=$root/build/native/tools/qeldb/qeldb
# The records one per line: gid, kind, size and body (the offset left out, as copies move).
records() { "$qeldb" dump "$client/IDB/MAIN.IDX" | sed -n '2,$p' | paste -d' ' - - | sed 's/  offset [0-9]*//'; }
records >"$demo/records_before.txt"
# A Windows help contents file, as the Windows 95 family has one, for the update's help lines.
windows=$demo/prefix/drive_c/windows
mkdir -p "$windows/Help"
printf ':Base windows.hlp>main\r\n:Title Windows Help\r\n:Index Windows Help=windows.hlp\r\n' >"$windows/Help/Windows.cnt"

cd "$demo/drive_d"  # a working directory on a Windows drive
echo "== running D:\\QELUPD\\SETUP.EXE $*"
if [ -n "$interactive" ]; then
  wine 'D:\QELUPD\SETUP.EXE' "$@" || true
else
  # The machine check, the welcome dialog's Update, then the closing dialog (or, without
  # them, whatever comes: an unused answer is only noted). The search dialog takes none.
  wine 'E:\tools\robot\robot.exe' --transcript 'D:\shots\transcript.txt' --shots 'D:\shots' --timeout 60000 \
    --pass-by 1001 --step press:408 --step press:401 --step press:408 -- 'D:\QELUPD\SETUP.EXE' "$@" || true
  for bmp in "$demo"/drive_d/shots/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
  echo "== what the program showed (robot transcript)"
  cat "$demo/drive_d/shots/transcript.txt"
fi

echo "== files of D:\\QEL that changed (size before -> after)"
listing >"$demo/after.txt"
join -a1 -a2 -e '-' -o 0,1.2,2.2 "$demo/before.txt" "$demo/after.txt" |
  awk '$2 != $3 { printf "  %-24s %8s -> %s\n", $1, $2, $3; n++ } END { if (!n) print "  (none)" }'

echo "== records of IDB\\MAIN.IDX that changed (qeldb dump: - before, + after)"
records >"$demo/records_after.txt"
changed=$(diff "$demo/records_before.txt" "$demo/records_after.txt" | grep '^[<>]' | sed 's/^</  -/; s/^>/  +/' || true)
echo "${changed:-  (none)}"

echo "== WIN.INI, section [ZOVE]"
sed -n '/^\[ZOVE\]/,/^\[/p' "$windows/win.ini" 2>/dev/null | grep -v '^\[[^Z]' | tr -d '\r' | sed 's/^/  /' || true
echo "== registry"
for key in 'HKLM\SOFTWARE\Qelmora\QEL\CurrentVersion' 'HKCU\SOFTWARE\Qelmora\QEL\CurrentVersion' \
  'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qelmora'; do
  wine reg query "$key" 2>/dev/null | tr -d '\r' | grep -v '^$' | sed 's/^/  /' || echo "  $key: (none)"
done
echo "== help contents (C:\\windows\\Help\\Windows.cnt)"
tr -d '\r' <"$windows/Help/Windows.cnt" | sed 's/^/  /'
echo "== DOS game PIF"
pif=$(find "$windows" -maxdepth 1 -iname vedurov.pif | head -n 1)
if [ -n "$pif" ]; then
  echo "  C:\\windows\\$(basename "$pif"), $(stat -c %s "$pif") bytes, program \"$(dd if="$pif" bs=1 skip=36 count=63 2>/dev/null | tr -d '\0' | sed 's/ *$//')\""
else
  echo "  (none)"
fi
echo "== Start Menu"
links=$(find "$demo/prefix/drive_c" -path '*Start Menu*' -iname '*.lnk' -newer "$demo/before.txt" 2>/dev/null)
if [ -n "$links" ]; then
  while IFS= read -r link; do
    echo "  ${link#"$demo/prefix/drive_c/"} -> $(strings "$link" | grep -i -m1 '\.exe' || echo '?')"
  done <<<"$links"
else
  echo "  (none)"
fi

log=$client/update.log
[ -f "$log" ] || log=$(find "$demo/prefix/drive_c" -maxdepth 1 -iname update.log 2>/dev/null | head -n 1)
echo "== update.log: ${log:-not written}"
[ -n "$log" ] && cat "$log"
if [ -z "$interactive" ]; then
  echo "== screenshots"
  ls "$demo"/drive_d/shots/*.png 2>/dev/null || echo "(none)"
fi
true
