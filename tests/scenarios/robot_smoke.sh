#!/usr/bin/env bash
# The UI robot itself, driven against robot_peer whose windows are known exactly: what it writes
# down about a box and a dialog, each kind of step, a window without buttons, a left-over step,
# the time-outs, bad usage and a screenshot.
source "$(dirname "$0")/lib.sh"
peer='E:\tools\peers\robot_peer\robot_peer.exe'

# run NAME ROBOT-ARGS...: the robot's exit code goes to $rc, its transcript to NAME.txt, what it
# and the peer print to NAME.out and NAME.err.
run() {
  name=$1
  shift
  rc=0
  wine "$robot" --transcript "$work_win\\$name.txt" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null || rc=$?
}

# expect RC LINE...: the last run ended with RC and its transcript holds these lines in this order.
expect() {
  local at=0 found line
  [ "$rc" -eq "$1" ] || fail "$name: robot exit code $rc, expected $1"
  shift
  for line in "$@"; do
    found=$(awk -v want="$line" -v from="$at" 'NR > from && $0 == want { print NR; exit }' "$work/$name.txt")
    [ -n "$found" ] || { fail "$name: no line '$line' after line $at"; return; }
    at=$found
  done
}
peer_said() { grep -Fxq -- "$1" "$work/$name.out" || fail "$name: the peer did not print '$1'"; }
count() { grep -Ec -- "$1" "$work/$name.txt" || true; }
style() {  # the style of control $1, as a number
  local s
  s=$(sed -n "s/^  control $1 [A-Za-z]* style=0x\([0-9A-F]\{8\}\) .*/\1/p" "$work/$name.txt" | head -n 1)
  echo $((16#${s:-0}))
}

# A message box: blanks, quotes and backslashes in the arguments reach the program as given.
# Each step answers it: the button pressed is the one named, close box and Escape cancel.
text='C:\Program  Files\a "b" \'
while read -r step code; do
  run "box_${step/:/_}" --step "$step" -- "$peer" box "$text" "Smoke box"
  expect 0 'window 1: class "#32770" caption "Smoke box"' "  action $step" "exit $code"
  peer_said "box $code"
done <<'EOF'
press:1 1
press:2 2
close 2
key:27 2
EOF
name=box_press_1
for pattern in "-1 Static .*\"${text//\\/\\\\}\"" '1 Button .*"OK"' '2 Button .*"Cancel"'; do
  [ "$(count "^  control $pattern\$")" -eq 1 ] || fail "$name: no single control line '$pattern'"
done
[ "$(count ' uppercase$')" -eq 0 ] || fail "$name: a box control marked uppercase"

# A button that is not there: nothing is pressed, the box stays, the robot gives up and ends it.
run box_missing --timeout 4000 --step press:999 -- "$peer" box "No such button" "Smoke box"
expect 3 '  action press:999' '  no control 999' 'timeout waiting for exit' 'exit 255'

# The dialog: every control with its id, class, style and text, line breaks escaped, the upper-case
# edit marked; then the steps.
run dialog_type --step 'type:302:hello world' --step press:402 -- "$peer" dialog "Smoke dialog"
diff -u - <(sed -E 's/ style=0x[0-9A-F]{8} / style /' "$work/$name.txt") <<'EOF' || fail "$name: transcript differs"
window 1: class "#32770" caption "Smoke dialog"
  control 301 Static style "Enter a name\nthen choose"
  control 302 Edit style "START" uppercase
  control 401 Button style "&Accept"
  control 402 Button style "&Reject"
  action type:302:hello world
  action press:402
exit 402
EOF
expect 0
peer_said 'dialog 402 edit=HELLO WORLD'  # typed into the control, which made it upper case
edit=$(style 302) accept=$(style 401) reject=$(style 402)
(( (edit & 0x50000008) == 0x50000008 )) || fail "$name: edit style $edit lacks WS_CHILD, WS_VISIBLE or ES_UPPERCASE"
(( (accept & 0xF) == 1 && (reject & 0xF) == 0 )) || fail "$name: 401 is not the default push button, or 402 is"

# Keys go to the focused control, and the window keeps the steps while it stays open: tabs move
# from the edit over Accept to Reject, letters reach the edit, Enter presses the focused or
# default button, Escape cancels.
while IFS="|" read -r label steps code edit; do
  args=() actions=()
  for step in $steps; do args+=(--step "$step") actions+=("  action $step"); done
  run "$label" "${args[@]}" -- "$peer" dialog "Smoke dialog"
  expect 0 "${actions[@]}" "exit $code"
  [ "$(count '^window ')" -eq 1 ] || fail "$name: more than one window"
  [ "$(count '^  action ')" -eq ${#actions[@]} ] || fail "$name: not each step applied once"
  peer_said "dialog $code edit=$edit"
done <<'EOF'
dialog_tabs|key:9 key:9 key:13|402|START
dialog_letters|key:65 key:66 press:401|401|AB
dialog_enter|key:13|401|START
dialog_escape|key:27|2|START
EOF

# A note without buttons, a box, the dialog: the note takes no step; one step is left over.
run chain --step press:1 --step type:302:abc --step press:401 --step press:7 -- "$peer" chain
expect 0 'window 1: class "#32770" caption "Working"' '  control -1 Static style=0x50000000 "Please wait"' \
  'window 2: class "#32770" caption "Chain"' '  action press:1' \
  'window 3: class "#32770" caption "Chain dialog"' '  action type:302:abc' '  action press:401' \
  'unused step press:7' 'exit 1401'
[ "$(count '^  action ')" -eq 3 ] || fail "$name: a step was applied to the window without buttons"
peer_said 'dialog 401 edit=ABC'

# The second step's window never comes, though the program runs on: the robot gives up in time,
# says which step it waited for, and ends the program.
start=$SECONDS
run timeout_step --timeout 5000 --step press:1 --step press:2 -- "$peer" boxsleep 60000 "Only one"
expect 3 '  action press:1' 'timeout waiting for step 2: press:2' 'exit 255'
(( SECONDS - start < 30 )) || fail "$name: took $((SECONDS - start)) s to give up after 5 s"
peer_said 'box 1'

# Bad usage: exit 2 and the reason.
while IFS='|' read -r args why; do
  run bad_usage $args
  [ "$rc" -eq 2 ] || fail "bad usage '$args': exit code $rc"
  grep -Fqs -- "$why" "$work/bad_usage.err" "$work/bad_usage.txt" || fail "bad usage '$args': no '$why'"
  rm -f "$work/bad_usage.txt"
done <<EOF
--step push:1 -- $peer box x|bad step: push:1
--step press:1|no program given
--timeout soon -- $peer box x|--timeout wants milliseconds
-- $work_win\\missing.exe|cannot start $work_win\\missing.exe
EOF

# One screenshot per window: a 24-bit BMP of the screen whose size fits its header, the dialog on it.
run shots --shots "$work_win\\shots" --step press:401 -- "$peer" dialog "Smoke dialog"
bmp=$work/shots/shot-1.bmp
if [ -s "$bmp" ]; then
  set -- $(od -An -tu4 -j2 -N4 "$bmp") $(od -An -td4 -j18 -N8 "$bmp") $(od -An -tu2 -j28 -N2 "$bmp")
  [[ $(head -c 2 "$bmp") == BM && $4 -eq 24 && $1 -eq $(stat -c %s "$bmp") &&
     $1 -eq $((54 + ($2 * 3 + 3) / 4 * 4 * $3)) ]] || fail "shots: not a 24-bit BMP of its own size: $*"
  [ "$(convert "$bmp" -format '%k' info: || echo 0)" -ge 4 ] || fail "shots: one colour only: the window is not on it"
else
  fail "shots: no screenshot $bmp"
fi
[ ! -e "$work/shots/shot-2.bmp" ] || fail "shots: a second screenshot for a single window"

finish
