#!/usr/bin/env bash
# The user interface on the screen: every dialog template shown through the runners over the
# frame, as the robot records it; the frame and a progress dialog's gauge as screenshots show
# them on the 24-bit display of the test run and on a second display at 8 bits per pixel.
source "$(dirname "$0")/lib.sh"

driver="$peers\\stage_driver.exe"
mkdir -p "$work/QEL"

# The templates in the order of dialogs.rc: "ID|caption|controls|first button|gauge|edit field".
define() { awk -v name="$1" '$1 == "#define" && $2 == name { print $3 }' "$QEL_SOURCE_DIR/res/resource_ids.h"; }
templates=$(awk '
  /^[A-Z_0-9]+ DIALOG / { name = $1; caption = ""; controls = 0; button = ""; gauge = 0; edit = 0 }
  /^CAPTION "/ { caption = substr($0, 10, length($0) - 10) }
  /^  CONTROL / {
    controls++
    if ($0 ~ /ORD_BUTTON/ && button == "") { split($0, field, ","); button = field[2]; gsub(/ /, "", button) }
    if ($0 ~ /GAUGE_CLASS/) gauge = 1
    if ($0 ~ /ORD_EDIT/) edit = 1
  }
  /^END/ { print name "|" caption "|" controls "|" button "|" gauge "|" edit }' "$QEL_SOURCE_DIR/res/dialogs.rc")

# Each template as the program shows it: progress dialogs (no caption) modeless with the gauge
# at 1 of 3, questions with a directory field through the path runner (typed in lower case),
# the others through the plain runner; each question answered with its first button.
args=() steps=() expected=() answers=()
while IFS='|' read -r name caption controls button gauge edit; do
  id=$(define "$name")
  button_id=$([ -n "$button" ] && define "$button" || true)
  expected+=("$caption|$controls|$gauge")
  if [ -z "$caption" ]; then
    args+=(--open "$id")
    [ "$gauge" = 1 ] && args+=(--gauge 1/3)
    [ -n "$button" ] && steps+=(wait)
  elif [ "$edit" = 1 ]; then
    args+=(--show-path "$id" 'C:\QEL')
    steps+=("type:$(define CTL_PATH):d:\\games\\qel$id" "press:$button_id")
    answers+=("Dialog $id answered $button_id, path D:\\GAMES\\QEL$id")
  else
    args+=(--show "$id")
    steps+=("press:$button_id")
    answers+=("Dialog $id answered $button_id")
  fi
done <<<"$templates"
check "dialogs.rc read: 19 templates" test "${#expected[@]}" = 19

robot templates.txt "${steps[@]}" -- "$driver" --frame Qelmora --target "$work_win\\QEL" --quiet "${args[@]}"
check "the frame first, titled with the product name" \
  has_line "$work/templates.txt" 'window 1: class "_QELSETUP_Frame" caption "Qelmora"'
# Each shown window: "caption|controls recorded|gauge among them", in the order shown.
shown=$(awk '
  function flush() { if (n) print caption "|" controls "|" gauge }
  /^window / { flush(); n++; caption = $0; sub(/^[^"]*"[^"]*" caption "/, "", caption); sub(/"$/, "", caption); controls = 0; gauge = 0 }
  /^  control / { controls++; if ($0 ~ /_QELSETUP_Gauge/) gauge = 1 }
  END { flush() }' "$work/templates.txt" | tail -n +2)
check "every template shown whole, in order" test "$shown" = "$(printf '%s\n' "${expected[@]}")"
all_logged() { for answer in "${answers[@]}"; do has_line "$work/QEL/update.log" "$answer" || return 1; done; }
check "every answer logged, the typed directories in capitals" all_logged
check "log: the depth of the 24-bit display" has_line "$work/QEL/update.log" 'Bits per pixel = 24'

# The screenshots show the windows as on a display without a window manager: managed windows,
# whose captions nothing draws (the tests' worlds take down unmanaged ones faster).
managed_windows() { wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true; }
managed_windows

# Dialog 200 over the frame, its gauge at 2 of 3, photographed while it is up. The transcript
# and the target folder go to FOLDER, which Windows knows as FOLDER_WIN.
progress_shot() {  # NAME FOLDER FOLDER_WIN
  local name=$1 folder=$2
  rm -rf "$folder/$name.txt" "$folder/$name"
  mkdir -p "$folder/$name"
  wine "$robot" --timeout 20000 --transcript "$3\\$name.txt" -- "$driver" --frame Qelmora \
    --target "$3\\$name" --quiet --open 200 --gauge 2/3 --hold 5000 >/dev/null 2>&1 &
  for _ in $(seq 300); do
    grep -q '^window 2:' "$folder/$name.txt" 2>/dev/null && break
    sleep 0.1
  done
  sleep 1
  bash "$QEL_SOURCE_DIR/scripts/screenshot.sh" "$work/$name.png" >/dev/null || fail "$name: no screenshot"
  wait $! || true
  cp "$folder/$name/update.log" "$work/$name.log" || fail "$name: no update.log"
}
progress_shot shot24 "$work" "$work_win"

# The 8-bit display gets a Wine prefix and server of its own: the processes of one server share
# its desktop, which stays on the display the server started with, and a window of a process on
# another display fails when it is taken down.
screen24=$DISPLAY
source "$QEL_SOURCE_DIR/scripts/xvfb.sh"
qel_start_xvfb 8
eight=$QEL_WINE_DIR/eight
drop_eight() {  # stop also unmounts the prefix's drive F:, which rm could not remove
  WINEPREFIX=$eight/prefix bash "$QEL_SOURCE_DIR/scripts/wine-prefix.sh" stop "$eight" || true
  rm -rf "$eight"
}
trap 'drop_eight; kill $QEL_XVFB_PID 2>/dev/null || true' EXIT
bash "$QEL_SOURCE_DIR/scripts/wine-prefix.sh" copy "$QEL_WINE_TEMPLATE" "$eight" >/dev/null
WINEPREFIX=$eight/prefix managed_windows
WINEPREFIX=$eight/prefix progress_shot shot8 "$eight/drive_d" 'D:'
drop_eight
export DISPLAY=$screen24

runs() {  # FILE WIDTHxHEIGHT+X+Y: the colours of that strip, in reading order, as "count:colour" runs
  convert "$1" -crop "$2" txt:- | awk 'NR > 1 { print $3 }' | uniq -c | awk '{ printf "%s:%s ", $1, $2 }'
}
check "the second display shows at most 256 colours, the first more" \
  test "$(identify -format %k "$work/shot8.png")" -le 256 -a "$(identify -format %k "$work/shot24.png")" -gt 256
# The frame's client area begins where column 600 turns from the empty strip of the caption (no
# window manager draws it) to blue 255. Wine reports NUMCOLORS -1 on its 8-bit display, which
# counts as more than 256 colours: the frame paints as on 24 bits and the display shows the
# nearest of its colours, a band of blue 255 from the top, then black.
top=$(runs "$work/shot24.png" 1x768+600+0 | sed -n 's/^\([0-9]*\):#000000 [0-9]*:#0000FF .*/\1/p')
check "24 bits: the frame's top row is blue 255" test -n "$top"
matches() { [[ $1 =~ $2 ]]; }
check "8 bits: blue 255, then black" matches "$(runs "$work/shot8.png" 1x768+600+0)" "^$top:#000000 [0-9]+:#0000FF [0-9]+:#000000 \$"
check "8 bits: logged as more than 256 colours" has_line "$work/shot8.log" 'Bits per pixel = 24'
for colour in white black; do  # the picture and its shadow
  for depth in 24 8; do
    convert "$work/shot$depth.png" -crop "364x94+0+$top" +repage -fill black +opaque $colour -fill white -opaque $colour \
      "$work/$colour$depth.png"
  done
  check "picture: $colour pixels" test "$(convert "$work/${colour}24.png" -format '%[fx:round(mean*w*h)]' info:)" -gt 300
  check "picture: the same $colour pixels at 8 and 24 bits" \
    test "$(compare -metric AE "$work/${colour}24.png" "$work/${colour}8.png" null: 2>&1)" = 0
done
# The gauge's first inner row: frame line, blue up to the split column, white, frame line.
for depth in 24 8; do
  read -r x y width < <(sed -n 's/^Gauge at \([0-9]*\),\([0-9]*\) size \([0-9]*\) x .*/\1 \2 \3/p' "$work/shot$depth.log") ||
    { fail "$depth bits: gauge not logged"; continue; }
  split=$(( 2 * (width - 1) / 3 + 1 ))
  check "$depth bits: the gauge at 2 of 3 split at column $split" \
    test "$(runs "$work/shot$depth.png" "${width}x1+$x+$((y + 1))")" = "1:#000000 $((split - 1)):#0000FF $((width - 1 - split)):#FFFFFF 1:#000000 "
done

finish
