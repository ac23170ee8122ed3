#!/usr/bin/env bash
# The requirement checks before the setup sequence: the machine check with the 16-bit setup,
# the browser build, and the platform (Win32s is refused).
source "$(dirname "$0")/lib.sh"

driver="$peers\\stage_driver.exe"
ie_key='HKLM\Software\Microsoft\Internet Explorer'
msie_text='"You must first install Microsoft Internet Explorer 3.0 before installing this version of Qelmora."'
machine_check='control 414 Button'
below='control 412 Button'

# The 16-bit setup lies beside the package's folder: D:\...\QEL30\WIN95\SETUP.EXE gives
# D:\...\QEL30\QEL31\SETUP16.EXE.
mkdir -p "$work/QEL30/WIN95" "$work/QEL30/QEL31"
cp "$QEL_BUILD_DIR/tools/peers/setup_peers/record_args.exe" "$work/QEL30/QEL31/SETUP16.EXE"
package="$work_win\\QEL30\\WIN95\\SETUP.EXE"

# Wine's machine is a Pentium-class one with plenty of memory: dialog 227 is not shown, 228 is.
robot machine16.txt press:414 -- "$driver" --checks --check-system --package-file "$package"
for _ in $(seq 50); do [ -s "$work/QEL30/QEL31/args.txt" ] && break; sleep 0.1; done
check "machine check: dialog 228, not 227" has_line "$work/machine16.txt" "$machine_check"
check "machine check: one dialog only" test "$(windows_in "$work/machine16.txt")" = 1
check "16-bit setup started from QEL31" has_line "$work/QEL30/QEL31/args.txt" 'SETUP16.EXE'
robot machine_exit.txt press:406 press:408 -- "$driver" --checks --check-system --package-file "$package" --chained
check "machine check Exit: aborted (chained run shows 222)" \
  has_line "$work/machine_exit.txt" '"Although the setup has not completely finished, Qelmora has been installed!"'
robot machine_on.txt press:408 pass-by:1001 press:406 -- "$driver" --checks --check-system --package-file "$package"
check "machine check Continue: the run goes on to the search, which finds no client (dialog 215)" \
  has_line "$work/machine_on.txt" 'Setup searched your hard drive' 

# A folder with a blank: the program gets its path quoted, as one word.
mkdir -p "$work/QEL 30/WIN95" "$work/QEL 30/QEL31"
cp "$QEL_BUILD_DIR/tools/peers/setup_peers/record_args.exe" "$work/QEL 30/QEL31/SETUP16.EXE"
robot blank16.txt press:414 -- "$driver" --checks --check-system --package-file "$work_win\\QEL 30\\WIN95\\SETUP.EXE"
for _ in $(seq 50); do [ -s "$work/QEL 30/QEL31/args.txt" ] && break; sleep 0.1; done
check "16-bit setup in a folder with a blank: its quoted path" \
  test "$(tr -d '\r' < "$work/QEL 30/QEL31/args.txt")" = "\"$work_win\\QEL 30\\QEL31\\SETUP16.EXE\""

# A package in a drive's root looks for the 16-bit setup beside it.
mkdir -p "$drive_d/QEL31"
cp "$QEL_BUILD_DIR/tools/peers/setup_peers/record_args.exe" "$drive_d/QEL31/SETUP16.EXE"
rm -f "$drive_d/QEL31/args.txt"
robot root16.txt press:414 -- "$driver" --checks --check-system --package-file 'D:\SETUP.EXE'
for _ in $(seq 50); do [ -s "$drive_d/QEL31/args.txt" ] && break; sleep 0.1; done
check "package in a root: D:\\QEL31\\SETUP16.EXE" has_line "$drive_d/QEL31/args.txt" 'SETUP16.EXE'
rm -rf "$drive_d/QEL31"

# The browser: build 1712 passes 1300; a missing value fails unless the skip list is not empty.
wine reg add "$ie_key" /v Build /t REG_SZ /d ' 1712.3' /f >/dev/null 2>&1
robot msie_ok.txt pass-by:1001 press:406 -- "$driver" --checks --msie 1300 --target "$work_win"
check "browser 1712 >= 1300: no message" lacks_line "$work/msie_ok.txt" "$msie_text"
check "browser 1712 >= 1300: the run goes on to the search" has_line "$work/msie_ok.txt" 'Setup searched your hard drive'
wine reg delete "$ie_key" /v Build /f >/dev/null 2>&1
robot msie_missing.txt press:1 -- "$driver" --checks --msie 1300 --target "$work_win"
check "browser value missing: message 34013" has_line "$work/msie_missing.txt" "$msie_text"
check "browser value missing: logged" grep -q 'Required MSIE not present' "$work/update.log"
robot msie_skip.txt pass-by:1001 press:406 -- "$driver" --checks --msie 1300 --msie-skip --target "$work_win"
check "skip list: no browser check" lacks_line "$work/msie_skip.txt" "$msie_text"
check "skip list: the run goes on to the search" has_line "$work/msie_skip.txt" 'Setup searched your hard drive'
wine reg add "$ie_key" /v Build /t REG_SZ /d 99600 /f >/dev/null 2>&1

# Win32s: a platform of 0 is refused with string 34010.
app_key='HKCU\Software\Wine\AppDefaults\stage_driver.exe'
wine reg add "$app_key" /v Version /t REG_SZ /d win31 /f >/dev/null 2>&1
robot win32s.txt press:1 -- "$driver" --checks
wine reg delete "$app_key" /f >/dev/null 2>&1
check "Win32s: message 34010" has_line "$work/win32s.txt" \
  '"This version of Qelmora must be installed on\nthe Windows 95 operating system or higher."'

finish
