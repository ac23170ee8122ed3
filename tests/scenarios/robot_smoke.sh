#!/usr/bin/env bash
# The UI robot itself, driven against robot_peer whose windows are known exactly: what it writes
# down about windows and controls, each kind of step, several windows in a row, left-over
# steps, both time-outs, bad usage and screenshots.
# Environment: WINEPREFIX, QEL_BUILD_DIR (cross build), QEL_WINE_DIR (drive D: is its drive_d),
# DISPLAY (an X server for Wine).
set -euo pipefail
: "${WINEPREFIX:?}" "${QEL_BUILD_DIR:?}" "${QEL_WINE_DIR:?}" "${DISPLAY:?}"
export WINEDEBUG=-all

robot_exe=$QEL_BUILD_DIR/tools/robot/robot.exe
peer_exe=$QEL_BUILD_DIR/tools/peers/robot_peer/robot_peer.exe
for f in "$robot_exe" "$peer_exe"; do
  [[ -f $f ]] || { echo "FAIL: $f is not built"; exit 1; }
done
[[ -d $QEL_WINE_DIR/drive_d ]] || { echo "FAIL: no drive D: at $QEL_WINE_DIR/drive_d"; exit 1; }

# Everything lives on drive D: so the robot can start the peer by a Windows path.
work=$QEL_WINE_DIR/drive_d/robot_smoke
rm -rf "$work"
mkdir -p "$work"
cp "$robot_exe" "$peer_exe" "$work/"
cd "$work"
peer='D:\robot_smoke\robot_peer.exe'

failures=0
fail() {
  echo "FAIL [$case_name]: $*"
  failures=$((failures + 1))
}

# run NAME ROBOT-ARGS... : runs the robot with a transcript NAME.txt; the robot's exit code goes
# to $rc, its stdout (where the peer prints) to NAME.out.
run() {
  case_name=$1
  shift
  echo "--- $case_name"
  rc=0
  wine "$work/robot.exe" --transcript "D:\\robot_smoke\\$case_name.txt" "$@" \
    >"$case_name.out" 2>"$case_name.err" </dev/null || rc=$?
  if [[ -f $case_name.txt ]]; then
    sed 's/^/    | /' "$case_name.txt"
  fi
}

transcript() { echo "$work/$case_name.txt"; }

expect_rc() {
  [[ $rc -eq $1 ]] || fail "robot exit code $rc, expected $1"
}

# The transcript holds exactly this line.
expect_line() {
  grep -Fxq -- "$1" "$(transcript)" || fail "missing line: $1"
}

expect_no_match() {
  if grep -Eq -- "$1" "$(transcript)"; then fail "unexpected line matching: $1"; fi
}

expect_count() {
  local n
  n=$(grep -Ec -- "$1" "$(transcript)" || true)
  [[ $n -eq $2 ]] || fail "$n lines match '$1', expected $2"
}

# The given lines occur in the transcript in this order (others may lie between them).
expect_order() {
  local at=0 line found
  for line in "$@"; do
    found=$(awk -v want="$line" -v from="$at" 'NR > from && $0 == want { print NR; exit }' "$(transcript)")
    if [[ -z $found ]]; then
      fail "line not found after line $at: $line"
      return
    fi
    at=$found
  done
}

expect_last() {
  local last
  last=$(tail -n 1 "$(transcript)")
  [[ $last == "$1" ]] || fail "last line is '$last', expected '$1'"
}

# What the peer printed (it shares the robot's standard output).
expect_peer_said() {
  grep -Fxq -- "$1" "$work/$case_name.out" || fail "peer did not print: $1 (got: $(tr '\n' '|' <"$work/$case_name.out"))"
}

# The style=0x... of the control line starting with PREFIX, as a number.
style_of() {
  local s
  s=$(grep -F -- "$1 style=" "$(transcript)" | head -n 1 | sed -n 's/.* style=0x\([0-9A-F]\{8\}\) .*/\1/p')
  [[ -n $s ]] && echo $((16#$s)) || echo -1
}

WS_CHILD=$((0x40000000)); WS_VISIBLE=$((0x10000000)); ES_UPPERCASE=$((0x8)); BS_DEFPUSHBUTTON=$((0x1))

# ---------------------------------------------------------------------------------------------
echo "== message boxes"

run box_cancel --step press:2 -- "$peer" box "Text with  two spaces" "Smoke box"
expect_rc 0
expect_order 'window 1: class "#32770" caption "Smoke box"' '  action press:2' 'exit 2'
expect_count '^  control -1 Static style=0x[0-9A-F]{8} "Text with  two spaces"$' 1
expect_count '^  control 1 Button style=0x[0-9A-F]{8} "OK"$' 1
expect_count '^  control 2 Button style=0x[0-9A-F]{8} "Cancel"$' 1
expect_no_match ' uppercase$'
expect_last 'exit 2'
expect_peer_said 'box 2'

# The other button: the id really selects the button, it is not just the box going away.
run box_ok --step press:1 -- "$peer" box "Proceed?" "Smoke box"
expect_rc 0
expect_order 'window 1: class "#32770" caption "Smoke box"' '  action press:1' 'exit 1'
expect_peer_said 'box 1'

run box_close --step close -- "$peer" box "Close me" "Smoke box"
expect_rc 0
expect_order '  action close' 'exit 2'

run box_escape --step key:27 -- "$peer" box "Escape me" "Smoke box"
expect_rc 0
expect_order '  action key:27' 'exit 2'

# A button that is not there: the robot says so, presses nothing, and the box stays.
run box_missing --timeout 4000 --step press:999 -- "$peer" box "No such button" "Smoke box"
expect_rc 3
expect_order '  action press:999' '  no control 999' 'timeout waiting for exit'

# Arguments with blanks, quotes and backslashes reach the program as given.
run box_args --step press:1 -- "$peer" box 'C:\Program Files\a "b" \' 'Two words'
expect_rc 0
expect_line 'window 1: class "#32770" caption "Two words"'
expect_count '^  control -1 Static style=0x[0-9A-F]{8} "C:\\Program Files\\a "b" \\"$' 1

# Without --transcript the transcript goes to standard output, beside what the program prints.
case_name=stdout
echo "--- $case_name"
rc=0
wine "$work/robot.exe" --step press:1 -- "$peer" box "To stdout" "Smoke box" >stdout.out 2>stdout.err </dev/null || rc=$?
expect_rc 0
for want in 'window 1: class "#32770" caption "Smoke box"' '  action press:1' 'box 1' 'exit 1'; do
  grep -Fxq -- "$want" stdout.out || fail "standard output lacks: $want"
done

# ---------------------------------------------------------------------------------------------
echo "== dialog"

run dialog_type --step 'type:302:hello world' --step press:402 -- "$peer" dialog "Smoke dialog"
expect_rc 0
expect_line 'window 1: class "#32770" caption "Smoke dialog"'
# The line break in the static's text is written escaped, keeping one control per line.
expect_count '^  control 301 Static style=0x[0-9A-F]{8} "Enter a name\\nthen choose"$' 1
expect_count '^  control 302 Edit style=0x[0-9A-F]{8} "START" uppercase$' 1
expect_count '^  control 401 Button style=0x[0-9A-F]{8} "&Accept"$' 1
expect_count '^  control 402 Button style=0x[0-9A-F]{8} "&Reject"$' 1
expect_count '^  control ' 4
style=$(style_of '  control 302 Edit')
(( style >= 0 && (style & ES_UPPERCASE) && (style & WS_CHILD) && (style & WS_VISIBLE) )) ||
  fail "edit style $style lacks ES_UPPERCASE, WS_CHILD or WS_VISIBLE"
style=$(style_of '  control 401 Button')
(( style >= 0 && (style & 0xF) == BS_DEFPUSHBUTTON )) || fail "button 401 style $style is not the default push button"
style=$(style_of '  control 402 Button')
(( style >= 0 && (style & 0xF) == 0 )) || fail "button 402 style $style is not a plain push button"
expect_order 'window 1: class "#32770" caption "Smoke dialog"' '  action type:302:hello world' \
  '  action press:402' 'exit 402'
expect_count '^window ' 1
# The typed text went into the control, which made it upper case.
expect_peer_said 'dialog 402 edit=HELLO WORLD'

# Keys go to the focused control and the window keeps the next steps while it stays open:
# two tabs move the focus from the edit over Accept to Reject, Enter then presses Reject.
run dialog_keys --step key:9 --step key:9 --step key:13 -- "$peer" dialog "Smoke dialog"
expect_rc 0
expect_order '  action key:9' '  action key:9' '  action key:13' 'exit 402'
expect_count '^window ' 1
expect_peer_said 'dialog 402 edit=START'

# Letter keys reach the edit that has the focus (not the dialog): they replace its selected
# text, upper case.
run dialog_letters --step key:65 --step key:66 --step press:401 -- "$peer" dialog "Smoke dialog"
expect_rc 0
expect_order '  action key:65' '  action key:66' '  action press:401' 'exit 401'
expect_peer_said 'dialog 401 edit=AB'

# Enter on the edit presses the default button.
run dialog_enter --step key:13 -- "$peer" dialog "Smoke dialog"
expect_rc 0
expect_last 'exit 401'

run dialog_escape --step key:27 -- "$peer" dialog "Smoke dialog"
expect_rc 0
expect_last 'exit 2'

# ---------------------------------------------------------------------------------------------
echo "== several windows"

# A note without buttons, a box, the dialog: the note takes no step; one step is left over.
run chain --step press:1 --step type:302:abc --step press:401 --step press:7 -- "$peer" chain
expect_rc 0
expect_order 'window 1: class "#32770" caption "Working"' \
  '  control -1 Static style=0x50000000 "Please wait"' \
  'window 2: class "#32770" caption "Chain"' '  action press:1' \
  'window 3: class "#32770" caption "Chain dialog"' '  action type:302:abc' '  action press:401' \
  'unused step press:7' 'exit 1401'
expect_count '^  action ' 3
# No action between the note and the box.
[[ $(awk '/^window 1:/{a=1; next} /^window 2:/{a=0} a && /action/' "$(transcript)") == "" ]] ||
  fail "a step was applied to the window without buttons"
expect_peer_said 'box 1'
expect_peer_said 'dialog 401 edit=ABC'

# The program exits before any window: every step is left over.
run no_window --step press:1 --step close -- "$peer" sleep 300
expect_rc 0
expect_order 'unused step press:1' 'unused step close' 'exit 0'
expect_count '^window ' 0

# ---------------------------------------------------------------------------------------------
echo "== time-outs"

start=$SECONDS
run timeout_step --timeout 2000 --step press:1 -- "$peer" sleep 60000
expect_rc 3
expect_line 'timeout waiting for step 1: press:1'
expect_no_match '^exit 0$'
(( SECONDS - start < 30 )) || fail "the robot took $((SECONDS - start)) s instead of giving up after 2 s"

# The second step never gets its window, though the program runs on: the count in the
# message says which step.
# The time-out leaves the program time enough to print after the first answer on a busy machine.
run timeout_second --timeout 5000 --step press:1 --step press:2 -- "$peer" boxsleep 60000 "Only one"
expect_rc 3
expect_order 'window 1: class "#32770" caption "Robot peer"' '  action press:1' \
  'timeout waiting for step 2: press:2'
expect_peer_said 'box 1'
expect_count '^window ' 1

# Nobody answers the box and the program never ends.
start=$SECONDS
run timeout_exit --timeout 5000 -- "$peer" box "Nobody answers" "Smoke box"
expect_rc 3
expect_order 'window 1: class "#32770" caption "Smoke box"' 'timeout waiting for exit'
expect_no_match '^  action '
(( SECONDS - start < 30 )) || fail "the robot took $((SECONDS - start)) s instead of giving up after 5 s"

# Each line is in the file as soon as it is written: the window shows up in the transcript
# while the robot still waits for the program to end.
case_name=live
echo "--- $case_name"
wine "$work/robot.exe" --transcript 'D:\robot_smoke\live.txt' --timeout 8000 -- "$peer" box "Live" "Smoke box" \
  >live.out 2>live.err </dev/null &
robot_pid=$!
seen=no
while kill -0 "$robot_pid" 2>/dev/null; do
  if [[ -f live.txt ]] && grep -Fxq 'window 1: class "#32770" caption "Smoke box"' live.txt; then
    # Still running after the line was read: the line did not wait for the robot's end.
    kill -0 "$robot_pid" 2>/dev/null && seen=yes
    break
  fi
  sleep 0.1
done
[[ $seen == yes ]] || fail "the window line was not in the transcript while the robot ran"
rc=0
wait "$robot_pid" || rc=$?
expect_rc 3
expect_last 'exit 255'

# ---------------------------------------------------------------------------------------------
echo "== bad usage"

# The robot says why on its standard error.
expect_err() {
  grep -Fq -- "$1" "$work/$case_name.err" || fail "robot did not complain: $1"
}
run bad_step --step 'push:1' -- "$peer" box x
expect_rc 2
expect_err 'bad step: push:1'
run no_program --step press:1
expect_rc 2
expect_err 'no program given'
run bad_timeout --timeout soon -- "$peer" box x
expect_rc 2
expect_err '--timeout wants milliseconds'
run cannot_start -- 'D:\robot_smoke\missing.exe'
expect_rc 2
expect_line 'cannot start D:\robot_smoke\missing.exe'

# ---------------------------------------------------------------------------------------------
echo "== screenshots"

run shots --shots 'D:\robot_smoke\shots' --step type:302:shown --step press:401 -- "$peer" dialog "Smoke dialog"
expect_rc 0
expect_no_match '^  cannot save shot'
bmp=$work/shots/shot-1.bmp
if [[ ! -s $bmp ]]; then
  fail "no screenshot $bmp"
else
  # A 24-bit BMP of the screen: "BM", then the size the header promises matches the file.
  magic=$(head -c 2 "$bmp")
  [[ $magic == BM ]] || fail "screenshot does not start with BM"
  declared=$(od -An -tu4 -j2 -N4 "$bmp" | tr -d ' ')
  bits=$(od -An -tu2 -j28 -N2 "$bmp" | tr -d ' ')
  width=$(od -An -td4 -j18 -N4 "$bmp" | tr -d ' ')
  height=$(od -An -td4 -j22 -N4 "$bmp" | tr -d ' ')
  [[ $declared -eq $(stat -c %s "$bmp") ]] || fail "BMP declares $declared bytes, file has $(stat -c %s "$bmp")"
  [[ $bits -eq 24 ]] || fail "BMP has $bits bits per pixel"
  (( width > 0 && height > 0 )) || fail "BMP is ${width}x${height}"
  [[ $declared -eq $((54 + ((width * 3 + 3) / 4 * 4) * height)) ]] || fail "BMP size does not fit ${width}x${height}"
  if command -v convert >/dev/null; then
    # The dialog is on it: the empty X screen is one colour, the dialog brings many.
    colours=$(convert "$bmp" -format '%k' info:)
    (( colours >= 4 )) || fail "screenshot has only $colours colours: the window is not on it"
  fi
fi
[[ ! -e $work/shots/shot-2.bmp ]] || fail "a second screenshot for a single window"

# ---------------------------------------------------------------------------------------------
if (( failures > 0 )); then
  echo "robot_smoke: $failures failure(s)"
  exit 1
fi
echo "robot_smoke: all passed"
