#!/usr/bin/env bash
# The finish of a run, driven with the run-wide state set (stage_driver): VERSION.INF, the
# restart library's verdict, the next disk, the closing and restart dialogs, the low-space
# program, the fatal error box and the restart of Windows.
source "$(dirname "$0")/lib.sh"

driver="$peers\\stage_driver.exe"
target=$work/QEL
target_win="$work_win\\QEL"
mkdir -p "$target"
log=$drive_c/update.log

# Dialog texts as the robot records them.
updated='"Qelmora has been updated!"'
installed='"Qelmora has been installed!"'
not_finished='"Although the setup has not completely finished, Qelmora has been installed!"'
restart='"Qelmora has been updated."'
next_disk='control 412 Button'
low_space='control 413 Button'

# A successful update: VERSION.INF (other content kept), then dialog 213.
printf '[Other]\r\nKeep=1\r\n' >"$target/VERSION.INF"
robot updated.txt press:408 -- "$driver" --target "$target_win" --version-inf --package-version 5.1.2 --frame "Qelmora Update"
check "success: dialog 213" has_line "$work/updated.txt" "$updated"
check "success: one window only" test "$(windows_in "$work/updated.txt")" = 1
check "VERSION.INF: application" grep -q '^Application=qel.exe' "$target/VERSION.INF"
check "VERSION.INF: version" grep -q '^Version=5.1.2' "$target/VERSION.INF"
check "VERSION.INF: other sections kept" grep -q '^Keep=1' "$target/VERSION.INF"

# A chained disk without a next disk: dialog 221. Quiet: nothing at all.
robot chained.txt press:408 -- "$driver" --target "$target_win" --chained
check "chained: dialog 221" has_line "$work/chained.txt" "$installed"
robot quiet.txt -- "$driver" --target "$target_win" --chained --quiet
check "quiet: no dialog" test "$(windows_in "$work/quiet.txt")" = 0
check "quiet: ends" has_line "$work/quiet.txt" "exit 0"

# -T given: no dialog, the line on standard output.
wine "$driver" --target "$target_win" --given 'C:\QEL30' >"$work/given.out" 2>/dev/null
check "given: success line" has_line "$work/given.out" 'We successfully updated QEL in path C:\QEL30'

# The restart library: each export that exists is called in order, the last one decides.
answers=(press:408 press:406)  # dialog 213 if it comes, then "Restart Later" in 218
library_case() {  # NAME DLL VERDICTS EXTRA-OPTIONS...
  local name=$1 dll=$2 verdicts=$3
  shift 3
  rm -f "$target/inshlp32.dll" "$target/probe.log" "$target/probe.ini"
  [ -n "$dll" ] && cp "$QEL_BUILD_DIR/tools/peers/restart_probe/$dll" "$target/inshlp32.dll"
  printf '[verdicts]\r\n%b' "$verdicts" >"$target/probe.ini"
  robot "$name.txt" "${answers[@]}" -- "$driver" --target "$target_win" "$@"
}
library_case none "" ""
check "no library: no restart dialog" lacks_line "$work/none.txt" "$restart"
library_case exports_none restart_none.dll ""
check "library without the exports: restart dialog" has_line "$work/exports_none.txt" "$restart"
library_case all_zero restart_all.dll 'do_not_reboot=5\r\ninstall_qelmac=0\r\ncheck_reboot_flag=0\r\n' --frame "Qelmora Update"
check "all exports, last says 0: no restart dialog" lacks_line "$work/all_zero.txt" "$restart"
check "calls in order with their arguments" \
  awk 'NR==1 && $0=="do_not_reboot 1\r"{a=1} NR==2 && $1=="install_qelmac" && $2+0!=0{b=1} NR==3 && $0=="check_reboot_flag\r"{c=1} END{exit !(a&&b&&c&&NR==3)}' "$target/probe.log"
library_case last_decides restart_all.dll 'do_not_reboot=0\r\ninstall_qelmac=0\r\ncheck_reboot_flag=7\r\n'
check "check_reboot_flag non-zero: restart dialog" has_line "$work/last_decides.txt" "$restart"
library_case no_frame restart_install_qelmac.dll 'install_qelmac=1\r\n'
check "install_qelmac alone decides" has_line "$work/no_frame.txt" "$restart"
check "install_qelmac gets the frame handle (none here)" cmp -s "$target/probe.log" <(printf 'install_qelmac 0\r\n')
library_case verdict_zero_keeps_r restart_do_not_reboot.dll 'do_not_reboot=0\r\n' --restart
check "-R kept when the library says 0" has_line "$work/verdict_zero_keeps_r.txt" "$restart"
library_case only_check restart_check_reboot_flag.dll ''
check "check_reboot_flag alone saying 0: no restart" lacks_line "$work/only_check.txt" "$restart"
rm -f "$target/inshlp32.dll"

# The next disk: " -R " before " -P ", the rest of the line the directory; no closing dialog.
mkdir -p "$work/N"
cp "$QEL_BUILD_DIR/tools/peers/setup_peers/record_args.exe" "$work/N/NEXT.EXE"
robot next.txt press:412 -- "$driver" --target "$target_win" --restart --next-disk "$work_win\\N\\NEXT.EXE"
for _ in $(seq 50); do [ -s "$work/N/args.txt" ] && break; sleep 0.1; done
check "next disk: dialog 219" has_line "$work/next.txt" "$next_disk"
check "next disk: command line" has_line "$work/N/args.txt" "$work_win\\N\\NEXT.EXE -R  -P $target_win"
check "next disk: no further dialog" test "$(windows_in "$work/next.txt")" = 1
check "next disk: log line in the client's folder" has_line "$target/update.log" "User installing next disk: $work_win\\N\\NEXT.EXE"

# A next disk that does not start is offered again; declining it leads to the closing dialog.
robot next_missing.txt press:412 press:403 press:408 -- "$driver" --target "$target_win" --next-disk 'D:\NOWHERE\NEXT.EXE'
check "next disk failing: asked again, then dialog 213" \
  test "$(grep -c "$next_disk" "$work/next_missing.txt")" = 2 -a "$(windows_in "$work/next_missing.txt")" = 3
check "next disk declined: dialog 213 last" has_line "$work/next_missing.txt" "$updated"

# Aborted or cancelled: a chained disk says dialog 222 and reports no error.
robot aborted_chained.txt press:408 -- "$driver" --target "$target_win" --aborted --chained --fatal 7 --version-inf
check "aborted chained: dialog 222" has_line "$work/aborted_chained.txt" "$not_finished"
check "aborted chained: no error box" test "$(windows_in "$work/aborted_chained.txt")" = 1
robot cancelled.txt -- "$driver" --target "$target_win" --cancelled
check "cancelled, not chained: nothing shown" test "$(windows_in "$work/cancelled.txt")" = 0

# A fatal error alone: VERSION.INF still written, the library still asked, no closing
# dialog, then the error box with the number; the log goes to the first fixed drive.
rm -f "$target/VERSION.INF"
answers=(press:1)
library_case fatal restart_all.dll 'check_reboot_flag=0\r\n' --fatal 21 --version-inf --package-version 9
check "fatal: VERSION.INF written" grep -q '^Version=9' "$target/VERSION.INF"
check "fatal: library asked" has_line "$target/probe.log" "check_reboot_flag"
check "fatal: error box only" test "$(windows_in "$work/fatal.txt")" = 1
check "fatal: number in the box" has_line "$work/fatal.txt" 'An error (#21) has occurred'
check "fatal: log on c:" grep -q 'Fatal error #21' "$log"
rm -f "$target/inshlp32.dll"

# A fatal error on a full disk: VERSION.INF is not left part-written (here, empty where there was
# none), and no question comes before the error box.
drive_f=$QEL_WINE_DIR/drive_f
if [ -d "$drive_f" ] && mountpoint -q "$drive_f"; then
  rm -rf "$drive_f/QELV" "$drive_f/filler"
  mkdir -p "$drive_f/QELV"
  head -c $(($(df --output=avail -k "$drive_f" | tail -n 1) * 1024)) /dev/zero >"$drive_f/filler" || true
  robot fatal_full.txt press:1 -- "$driver" --target 'F:\QELV' --fatal 9 --version-inf --package-version 9
  rm -f "$drive_f/filler"
  check "fatal, disk full: no VERSION.INF, as before" test ! -e "$drive_f/QELV/VERSION.INF"
  check "fatal, disk full: no partial copy left" test ! -e "$drive_f/QELV/QELVERS.TMP"
  check "fatal, disk full: the error box only" test "$(windows_in "$work/fatal_full.txt")" = 1
  rm -rf "$drive_f/QELV"
else
  echo "skip: no small drive F: (fatal error on a full disk)"
fi

# Out of disk space with a helper program named: dialog 226 starts it from the package's folder.
mkdir -p "$work/L"
cp "$QEL_BUILD_DIR/tools/peers/setup_peers/record_args.exe" "$work/L/LOWSPACE.EXE"
robot low.txt press:413 -- "$driver" --target "$target_win" --cancelled --fatal 9 --low-space-offer \
  --package-file "$work_win\\L\\SETUP.EXE" --low-space-program LOWSPACE.EXE
for _ in $(seq 50); do [ -s "$work/L/args.txt" ] && break; sleep 0.1; done
check "low space: dialog 226" has_line "$work/low.txt" "$low_space"
check "low space: program started" grep -q 'LOWSPACE.EXE' "$work/L/args.txt"
check "low space: error cleared, no box" test "$(windows_in "$work/low.txt")" = 1

# A run that fails before it knows the client's folder (a damaged package) asks no restart library
# and writes no VERSION.INF: a library named inshlp32.dll beside SETUP.EXE or in the current
# folder is never loaded (it would log its calls), and nothing is written there or in Windows.
early=$work/EARLY
mkdir -p "$early/HERE"
cp "$QEL_BUILD_DIR/src/SETUP.EXE" "$early/SETUP.EXE"
printf "NOT A PACKAGE" >"$early/BAD.PKG"
for folder in "$early" "$early/HERE"; do
  cp "$QEL_BUILD_DIR/tools/peers/restart_probe/restart_all.dll" "$folder/inshlp32.dll"
  printf '[verdicts]\r\ncheck_reboot_flag=1\r\n' >"$folder/probe.ini"
done
cd "$early/HERE"
robot early.txt press:1 -- "$work_win\\EARLY\\SETUP.EXE" -V -X "$work_win\\EARLY\\BAD.PKG"
cd "$work"
check "early failure: the fatal error box" has_line "$work/early.txt" "has occurred, and Setup is unable to continue"
check "early failure: no library beside SETUP.EXE loaded" test ! -e "$early/probe.log"
check "early failure: no library in the current folder loaded" test ! -e "$early/HERE/probe.log"
check "early failure: no VERSION.INF anywhere" \
  test -z "$(find "$early" "$drive_c/windows" -maxdepth 2 \( -iname version.inf -o -iname qelvers.tmp \))"

# Restart: declined in dialog 218 nothing happens; accepted, Windows restarts and every
# program of the session ends (the witness is cut short).
start_window_peer "restart witness" 6 witness.txt
witness=$!
robot restart_later.txt press:408 press:406 -- "$driver" --target "$target_win" --restart
wait "$witness" 2>/dev/null || true
check "Restart Later: no restart" has_line "$work/witness.txt" "survived"

restart_case() {  # NAME STEPS... -- OPTIONS...
  local name=$1
  shift
  start_window_peer "restart witness" 15 "witness_$name.txt"
  local witness=$!
  robot "$name.txt" "$@"
  wait "$witness" 2>/dev/null || true
  # The restart ends the session's processes; the next Wine call starts a fresh server.
  wineserver -p >/dev/null 2>&1 </dev/null || true
}
restart_case restart_now press:408 press:408 -- "$driver" --target "$target_win" --restart
check "Restart Now: dialog 218 shown" has_line "$work/restart_now.txt" "$restart"
check "Restart Now: Windows restarted" lacks_line "$work/witness_restart_now.txt" "survived"
restart_case restart_aborted -- "$driver" --target "$target_win" --restart --aborted
check "-R after an aborted run: restart without dialog 218" lacks_line "$work/witness_restart_aborted.txt" "survived"
check "-R after an aborted run: no dialog" test "$(windows_in "$work/restart_aborted.txt")" = 0

finish
