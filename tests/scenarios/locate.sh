#!/usr/bin/env bash
# Finding the installed client as SETUP.EXE does it: the registry, then WIN.INI, then every fixed
# drive; the version verdict, the newest database, directory loops and paths too long, and Exit
# during the search. Each run stops at the welcome dialog; the log in the found folder tells.
source "$(dirname "$0")/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
qeldb=$QEL_NATIVE_DIR/tools/qeldb/qeldb
client_key='HKLM\SOFTWARE\Qelmora\QEL\CurrentVersion'
win_ini=$drive_c/windows/win.ini

cp -r "$QEL_SOURCE_DIR/samples/update" "$work/src"
sed -i '/^check_system/d' "$work/src/manifest.ini"
mkdir -p "$work/DISK1"
"$qelpack" build "$work/src/manifest.ini" -o "$work/DISK1/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
setup_exe="$work_win\\DISK1\\SETUP.EXE"

cp "$win_ini" "$work/win.ini.saved" 2>/dev/null || : >"$work/win.ini.saved"
forget() {
  rm -rf "$work"/C_* "$drive_c"/QELOLD "$work/TREE" "$work/BIG"
  wine reg delete "$client_key" /f >/dev/null 2>&1 || true
  cp "$work/win.ini.saved" "$win_ini"
}
trap forget EXIT

client() {  # UNIX-DIR [YEAR [BUILD-HEX [no-program]]]: a sample client, its database of YEAR
  rm -rf "$1"
  bash "$QEL_SOURCE_DIR/scripts/sample-client.sh" "$1" "$QEL_BUILD_DIR" "$QEL_NATIVE_DIR"
  [ -n "${3:-}" ] && "$qeldb" put "$1/IDB/MAIN.IDX" 0x14000006 --hex "$3" >/dev/null
  [ "${4:-}" = no-program ] && rm -f "$1/ZOVE.EXE"
  touch -d "${2:-2001}-06-01 12:00:00" "$1/IDB/MAIN.IDX"
}
record() { wine reg add "$client_key" /v AppPath /t REG_SZ /d "$1" /f >/dev/null 2>&1; }
ini_records() { printf '[ZOVE]\r\nAppPath=%s\r\n' "$1" >"$win_ini"; }
# Runs SETUP.EXE up to the welcome dialog and leaves it there.
run_to_welcome() { robot "$1.txt" pass-by:1001 press:403 press:403 -- "$setup_exe"; }
log_of() { cat "$work/$1/update.log" 2>/dev/null; }

# A registry candidate whose database the verdict rejects: WIN.INI is not asked, the drives are
# searched; the companion index file of the rejected database is gone afterwards.
client "$work/C_REJECTED" 2001 000100
echo stale >"$work/C_REJECTED/IDB/MAIN.ind"
client "$work/C_WININI" 2005 "" no-program
client "$work/C_FOUND" 2002
record "$work_win\\C_REJECTED"
ini_records "$work_win\\C_WININI"
run_to_welcome rejected
check "rejected registry candidate: the drive search finds the other" has_line "$work/C_FOUND/update.log" "Most recent = $work_win\\C_FOUND"
check "rejected registry candidate: its verdict" \
  has_line "$work/C_FOUND/update.log" "IAB:Verdict for $work_win\\C_REJECTED\\IDB\\MAIN.IDX (build 1) = no"
check "rejected registry candidate: WIN.INI not asked" test "$(log_of C_FOUND | grep -c '^AppPath = ')" = 1
check "the verdict deletes the companion index" test ! -e "$work/C_REJECTED/IDB/MAIN.ind"
forget

# A registry directory without idb\main.idx is ignored and WIN.INI is asked.
mkdir -p "$work/C_NOIDB"
client "$work/C_WININI" 2005 "" no-program
record "$work_win\\C_NOIDB"
ini_records "$work_win\\C_WININI"
run_to_welcome noidb
check "no idb\\main.idx in the registry's folder: WIN.INI's" has_line "$work/C_WININI/update.log" "Most recent = $work_win\\C_WININI"
check "no idb\\main.idx: only WIN.INI's AppPath logged" \
  test "$(log_of C_WININI | tr -d '\r' | grep '^AppPath = ')" = "AppPath = $work_win\\C_WININI"
forget

# The drive search: the newer database wins; an equal time keeps the one found first (C: is
# searched before D:); a program file without a database is searched below; builds 132/133 are
# matched on the major number whatever the minor.
client "$drive_c/QELOLD" 2001
client "$work/C_NEW" 2003 00840B
sed -i 's/^3010, 3011, 3020$/132, 133/' "$work/src/manifest.ini"
"$qelpack" build "$work/src/manifest.ini" -o "$work/DISK1/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
"$qeldb" put "$drive_c/QELOLD/IDB/MAIN.IDX" 0x14000006 --hex 008500 >/dev/null
touch -d "2001-06-01 12:00:00" "$drive_c/QELOLD/IDB/MAIN.IDX"
run_to_welcome newer
check "drive search: the newer database wins" has_line "$work/C_NEW/update.log" "Most recent = $work_win\\C_NEW"
check "drive search: build 0x84 with any minor accepted" has_line "$work/C_NEW/update.log" "(build 84) = yes"
check "drive search: the older one was seen" has_line "$work/C_NEW/update.log" 'CFA:Time for C:\QELOLD\IDB\MAIN.IDX'
touch -d "2003-06-01 12:00:00" "$drive_c/QELOLD/IDB/MAIN.IDX"
rm -f "$drive_c/QELOLD/update.log"
run_to_welcome equal
check "drive search: equal times keep the first found" has_line "$drive_c/QELOLD/update.log" 'Most recent = C:\QELOLD'
rm -rf "$drive_c/QELOLD"
mkdir -p "$work/C_PROGRAM"
touch "$work/C_PROGRAM/ZOVE.EXE"
mv "$work/C_NEW" "$work/C_PROGRAM/C_NEW"
run_to_welcome below
check "drive search: below a program file without a database" \
  has_line "$work/C_PROGRAM/C_NEW/update.log" "Most recent = $work_win\\C_PROGRAM\\C_NEW"
cp "$QEL_SOURCE_DIR/samples/update/manifest.ini" "$work/src/manifest.ini"
sed -i '/^check_system/d' "$work/src/manifest.ini"
"$qelpack" build "$work/src/manifest.ini" -o "$work/DISK1/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
forget
rm -rf "$work/C_PROGRAM"

# A directory loop (a link to a parent, a directory to Windows) and a client beyond 259
# characters: the search ends, finds nothing, and dialog 215 follows.
mkdir -p "$work/TREE/A/B"
ln -s .. "$work/TREE/A/B/up"
ln -s ../.. "$work/TREE/A/B/top"
deep=$work/TREE/D
for _ in $(seq 30); do deep=$deep/DEEPER_FOLDER; done
client "$work/TREE/C_DEEP" 2009  # made near the top: the tools' paths stop at 256 characters
mkdir -p "$deep"
mv "$work/TREE/C_DEEP" "$deep/C_DEEP"
robot tree.txt pass-by:1001 press:406 -- "$setup_exe"
check "loops and deep paths: the search ends with dialog 215" has_line "$work/tree.txt" 'Setup searched your hard drive'
check "loops and deep paths: the run ends" test "$(tail -n 1 "$work/tree.txt")" = "exit 0"
forget

# Exit during a long search, confirmed: the run ends with no further dialog.
mkdir -p "$work/BIG"
(cd "$work/BIG" && for a in $(seq 40); do for b in $(seq 100); do echo "F$a/G$b"; done; done | xargs mkdir -p)
robot stopped.txt press:403 press:403 -- "$setup_exe"
check "Exit in the search: dialog 205 over it" in_order "$work/stopped.txt" 'Please wait while we locate' 'control 407 Button'
check "Exit in the search: nothing after it" \
  test "$(windows_in "$work/stopped.txt")" = 2 -a "$(tail -n 1 "$work/stopped.txt")" = "exit 0"
# Resume goes back to the search, which ends as before.
robot resumed.txt press:403 press:407 press:406 -- "$setup_exe"
check "Resume in the search: the search ends with dialog 215" \
  in_order "$work/resumed.txt" 'control 407 Button' 'Setup searched your hard drive'

finish
