#!/usr/bin/env bash
# Start-up as a user meets it: a run without a package, a second copy, the client running,
# a bad -T, and the log that each run leaves (or does not leave).
source "$(dirname "$0")/lib.sh"

install_setup_copy DISK1
setup_exe="$work_win\\DISK1\\SETUP.EXE"
log=$drive_c/update.log
fatal_text='An error (#%s) has occurred, and Setup is unable to continue.\n\nThis problem could be caused by a corrupted copy of the Setup program or by a bad disk.  It might be helpful to reset your system and try again.  If the problem persists, please contact Quorhelp for assistance.'
client_text='"Please exit Qelmora before running the Setup program."'

# No package behind the program: error #1, the log on the first fixed drive.
rm -f "$log"
robot nopkg.txt press:1 -- "$setup_exe" -C
check "no package: error box with number 1" has_line "$work/nopkg.txt" "\"$(printf "$fatal_text" 1)\""
check "no package: box caption" has_line "$work/nopkg.txt" 'caption "Setup"'
check "no package: program ends with 0" has_line "$work/nopkg.txt" "exit 0"
check "crash mode: every line in c:\\update.log" \
  cmp -s "$log" <(printf 'Opt: Crash mode\r\nPeak handles = 1\r\nFatal error #1\r\n')

# A second run replaces the first run's log.
robot nopkg2.txt press:1 -- "$setup_exe"
check "second run leaves only its own log" cmp -s "$log" <(printf 'Peak handles = 1\r\nFatal error #1\r\n')

# Crash mode: a run killed while the error box is up keeps every line logged before.
rm -f "$log"
wine "$setup_exe" -C >/dev/null 2>&1 &
killed=$!
for _ in $(seq 100); do grep -q 'Fatal error' "$log" 2>/dev/null && break; sleep 0.1; done
sleep 0.5
kill -KILL "$killed" 2>/dev/null || true
wait "$killed" 2>/dev/null || true
check "killed run kept its crash-mode lines" \
  cmp -s "$log" <(printf 'Opt: Crash mode\r\nPeak handles = 1\r\nFatal error #1\r\n')

# The client running, by either of its window classes or by its program: string 34001, no log.
for class in "QEL Frame" "QEL Frame25"; do
  rm -f "$log"
  start_window_peer "$class" 20 client.txt
  peer=$!
  robot client.txt press:1 -- "$setup_exe"
  check "client window '$class': message 34001" has_line "$work/client.txt" "$client_text"
  check "client window '$class': no log" test ! -e "$log"
  kill "$peer" 2>/dev/null || true
  wait "$peer" 2>/dev/null || true
done
cp "$QEL_BUILD_DIR/tools/peers/setup_peers/window_peer.exe" "$work/ZOVE.EXE"
wine "$work_win\\ZOVE.EXE" "client program" 20 "$work_win\\zove.txt" >/dev/null 2>&1 &
peer=$!
for _ in $(seq 100); do [ -s "$work/zove.txt" ] && break; sleep 0.1; done
robot zove.txt press:1 -- "$setup_exe"
check "client program ZOVE.EXE running: message 34001" has_line "$work/zove.txt" "$client_text"
kill "$peer" 2>/dev/null || true
wait "$peer" 2>/dev/null || true

# A second copy brings the first copy's frame forward and ends silently.
rm -f "$log"
start_window_peer "_QELSETUP_Frame" 4 first.txt
peer=$!
robot second.txt -- "$setup_exe"
wait "$peer" 2>/dev/null || true
check "second copy: no window" lacks_line "$work/second.txt" "window 1"
check "second copy: ends with 0" has_line "$work/second.txt" "exit 0"
check "second copy: no log" test ! -e "$log"
check "second copy: first copy's frame in front" has_line "$work/first.txt" "foreground 1"

# A bad -T: the message on standard output, no window, no log.
wine "$setup_exe" -T 'D:\NOWHERE' -C >"$work/stdout.txt" 2>/dev/null || true
check "bad -T: message" has_line "$work/stdout.txt" 'The path that was provided, D:\NOWHERE, does not exist.'
wine "$setup_exe" -T >"$work/stdout2.txt" 2>/dev/null || true
check "empty -T: message" has_line "$work/stdout2.txt" 'The -T command-line option was used, but no path was provided.'
robot badt.txt -- "$setup_exe" -T 'D:\NOWHERE' -C
check "bad -T: no window" lacks_line "$work/badt.txt" "window 1"
check "bad -T: no log, even in crash mode" test ! -e "$log"

# -X names the package file: a missing file is error 3, a file that is no package error 18.
robot missing.txt press:1 -- "$setup_exe" -X 'D:\NOWHERE\UPD.PKG'
check "-X missing file: error 3" has_line "$work/missing.txt" "An error (#3) has occurred"
check "-X logged" grep -q 'Opt: Install file = D:\\NOWHERE\\UPD.PKG' "$log"
printf 'ZZ not a package' >"$work/bad.pkg"
robot badpkg.txt press:1 -- "$setup_exe" -X "$work_win\\bad.pkg"
check "-X not a package: error 18" has_line "$work/badpkg.txt" "An error (#18) has occurred"

finish
