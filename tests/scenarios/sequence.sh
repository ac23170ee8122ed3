#!/usr/bin/env bash
# SETUP.EXE from start to finish on the sample client: the interactive update found through the
# registry, the unattended -T and -T -D runs, the chained run short of space, and the review,
# not-found and exit dialogs, each checked by the transcript, the client's files and the log.
source "$(dirname "$0")/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
client_key='HKLM\SOFTWARE\Qelmora\QEL\CurrentVersion'
drive_f=$QEL_WINE_DIR/drive_f

# The sample package without its machine check, so that only the sequence's dialogs come.
cp -r "$QEL_SOURCE_DIR/samples/update" "$work/src"
sed -i '/^check_system/d' "$work/src/manifest.ini"
mkdir -p "$work/DISK1"
"$qelpack" build "$work/src/manifest.ini" -o "$work/DISK1/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
setup_exe="$work_win\\DISK1\\SETUP.EXE"
payload_readme=$work/src/payload/readme.txt

# Client folders hold ZOVE.EXE: none may outlive the scenario, or a later search would find it.
forget_clients() {
  rm -rf "$work"/QEL* "$drive_c/QELC" "$drive_f/QELF"
  wine reg delete "$client_key" /f >/dev/null 2>&1 || true
}
trap forget_clients EXIT

fresh_client() {  # UNIX-DIR [WINDOWS-DIR to record in the registry]
  rm -rf "$1"
  bash "$QEL_SOURCE_DIR/scripts/sample-client.sh" "$1" "$QEL_BUILD_DIR" "$QEL_NATIVE_DIR" "${2:-}"
}
updated() { cmp -s "$payload_readme" "$(find "$1" -maxdepth 1 -iname readme.txt | head -n 1)"; }
untouched() { cmp -s "$QEL_SOURCE_DIR/samples/client/README.TXT" "$1/README.TXT" && [ -f "$1/SESSION.TMP" ]; }

welcome='"Welcome to the Qelmora Sample Update.'
review='caption "Review"'
not_found='Setup searched your hard drive for a copy of Qelmora'
invalid='"You'\''ve entered a directory name that is not valid.\n\nPlease check your typing and try again."'
confirm_exit='control 407 Button'
done_box='"Qelmora has been updated!"'

# Interactive: found through the registry, Update, the closing dialog. The rename rule
# (OLDNOTES.TXT = NOTES.OLD) renames the client's file, not the one of that name in the folder
# SETUP.EXE is started from.
fresh_client "$work/QEL" "$work_win\\QEL"
echo "not the client's" >"$work/OLDNOTES.TXT"
robot interactive.txt pass-by:1001 press:401 press:408 -- "$setup_exe"
check "interactive: the rename rule took the client's file" \
  test -f "$work/QEL/NOTES.OLD" -a ! -e "$work/QEL/OLDNOTES.TXT"
check "interactive: the current folder's file of that name stays" \
  test "$(cat "$work/OLDNOTES.TXT" 2>/dev/null)" = "not the client's"
check "interactive: welcome, then the closing dialog" in_order "$work/interactive.txt" "$welcome" "$done_box"
check "interactive: the members are in place" updated "$work/QEL"
check "interactive: the deletion list ran" test ! -e "$work/QEL/SESSION.TMP"
check "interactive: preserved file kept" cmp -s "$QEL_SOURCE_DIR/samples/client/QELPREFS.INI" "$work/QEL/QELPREFS.INI"
check "interactive: found through the registry" has_line "$work/QEL/update.log" "AppPath = $work_win\\QEL"
check "interactive: accepted build" has_line "$work/QEL/update.log" "IAB:Verdict for $work_win\\QEL\\IDB\\MAIN.IDX (build C2) = yes"
check "interactive: most recent" has_line "$work/QEL/update.log" "Most recent = $work_win\\QEL"
check "interactive: the space was checked" has_line "$work/QEL/update.log" "It'll fit"
check "interactive: the delivered records merged" in_order "$work/QEL/update.log" "Old version: " "Wrote GID " "New version: "

# -T: no search, no welcome dialog, no space check; a folder that the search would not take for
# a client (no ZOVE.EXE, a database of no known build) is installed into.
forget_clients
mkdir -p "$work/QELT/IDB"
cp "$QEL_BUILD_DIR/libs/dunzipnt/dunzipnt.dll" "$work/QELT/"
"$QEL_NATIVE_DIR/tools/qeldb/qeldb" create "$work/QELT/IDB/MAIN.IDX" --id 0x01000401 >/dev/null
"$QEL_NATIVE_DIR/tools/qeldb/qeldb" put "$work/QELT/IDB/MAIN.IDX" 0x14000006 --hex 000000 >/dev/null
wine "$setup_exe" -T "$work_win\\QELT" >"$work/given.out" 2>/dev/null
check "-T: the success line on standard output" has_line "$work/given.out" "We successfully updated QEL in path $work_win\\QELT"
robot given.txt -- "$setup_exe" -T "$work_win\\QELT"
check "-T: no dialog (the success line replaces the closing dialog)" test "$(windows_in "$work/given.txt")" = 0
check "-T: installed into a folder that holds no client" updated "$work/QELT"
check "-T: no search" lacks_line "$work/QELT/update.log" "Most recent"
check "-T: no space check" lacks_line "$work/QELT/update.log" "It'll fit"
fresh_client "$work/QEL"
robot quiet.txt -- "$setup_exe" -T "$work_win\\QEL" -D
check "-T -D: updated" updated "$work/QEL"
check "-T -D: no dialog at all" test "$(windows_in "$work/quiet.txt")" = 0
check "-T -D: no Program Manager item" lacks_line "$work/QEL/update.log" "Couldn't find PM window"
check "-T: the Program Manager item (no PROGMAN window under Wine)" has_line "$work/QELT/update.log" "Couldn't find PM window"

# Chained from a previous disk: the space check passes, the members go in (under the progress
# dialog 220, too quick here for the robot to be sure to see it), then dialog 221.
fresh_client "$work/QEL"
robot chained_ok.txt pass-by:1005 press:408 -- "$setup_exe" -P "$work_win\\QEL"
check "chained: dialog 221 at the end" has_line "$work/chained_ok.txt" '"Qelmora has been installed!"'
check "chained: updated" updated "$work/QEL"
check "chained: the space was checked, no search" \
  test "$(grep -c "It'll fit" "$work/QEL/update.log")" = 1 -a -z "$(grep 'Most recent' "$work/QEL/update.log")"

# Chained, on a drive too small for the update: the retry box; Cancel aborts and 222 follows.
if [ -d "$drive_f" ] && mountpoint -q "$drive_f"; then
  fresh_client "$drive_f/QELF"
  # 16 KiB left: less than the package's extra space alone.
  head -c $(( ($(df --output=avail -k "$drive_f" | tail -n 1) - 16) * 1024 )) /dev/zero >"$drive_f/filler" || true
  robot chained.txt press:2 press:408 -- "$setup_exe" -P 'F:\QELF'
  rm -f "$drive_f/filler"
  check "chained short of space: the retry box with the bytes needed" \
    has_line "$work/chained.txt" 'There is not enough disk space to update Qelmora.  At least '
  check "chained short of space: then dialog 222" in_order "$work/chained.txt" 'At least ' \
    '"Although the setup has not completely finished, Qelmora has been installed!"'
  check "chained short of space: nothing installed" untouched "$drive_f/QELF"
  rm -rf "$drive_f/QELF"
else
  echo "skip: no small drive F: (chained run short of space)"
fi

# Review: a wrong directory keeps its text across 34706; Restore brings target_dir back; Cancel
# returns to the welcome dialog; Exit there, Resume, Exit again and confirm.
fresh_client "$work/QEL" "$work_win\\QEL"
robot review.txt pass-by:1001 press:402 'type:501:D:\NOWHERE\TYPED' press:408 press:1 \
  press:409 press:406 press:403 press:407 press:403 press:403 -- "$setup_exe"
check "review: the typed text stays after 34706" \
  in_order "$work/review.txt" "$review" "$invalid" 'control 501 Edit style=0x50030488 "D:\NOWHERE\TYPED"'
restored() {
  local after
  after=$(grep -A12 'action press:409' "$work/review.txt") &&
    grep -qiF "control 501 Edit style=0x50030488 \"$work_win\\QEL\"" <<<"$after"
}
check "review: Restore shows target_dir again" restored
check "review: Cancel returns to the welcome dialog, Resume too" \
  in_order "$work/review.txt" 'action press:406' "$welcome" "$confirm_exit" 'action press:407' "$welcome" "$confirm_exit"
check "review: left, nothing installed" untouched "$work/QEL"
check "review: the exit logged" has_line "$work/QEL/update.log" "User exit"

# Review accepting another client on D: while the registry names one on C:: D: is tested for
# space, the install goes there, and no second space check follows.
fresh_client "$drive_c/QELC" 'C:\QELC'
fresh_client "$work/QEL"
robot review_d.txt pass-by:1001 press:402 "type:501:$work_win\\QEL" press:408 press:408 -- "$setup_exe"
check "review on D:: installed there" updated "$work/QEL"
check "review on D:: the client on C: untouched" untouched "$drive_c/QELC"
check "review on D:: D: tested for space" has_line "$work/QEL/update.log" "Drive D: cluster size"
check "review on D:: one space check only" test "$(grep -c "It'll fit" "$work/QEL/update.log")" = 1
forget_clients

# No client anywhere: dialog 215; Exit leaves.
robot none.txt pass-by:1001 press:406 -- "$setup_exe"
check "no client: dialog 215 once, then the end" \
  test "$(grep -c "$not_found" "$work/none.txt")" = 1 -a "$(tail -n 1 "$work/none.txt")" = "exit 0"

finish
