#!/usr/bin/env bash
# The disk-full campaign: the update of a client on G:, a tmpfs, with the disk full from a chosen
# point of the run on, for points across the whole run. Two kinds of point:
#   - space: the disk holds that many free bytes when the run starts, for sizes spread from none
#     to the run's whole growth (the members, the database's copy, the merge);
#   - line: the disk fills once the crash-mode log holds that line; the program is held while the
#     filler takes the rest, so its next write finds the disk full (the merge, WIN.INI, which
#     is a link to G:, and VERSION.INF come after the growth's peak).
# For each point two runs: Cancel at every question (the client keeps the invariants of a killed
# run and no success is reported), and Retry once the filler is deleted (the update completes,
# equal to an uninterrupted one, and reports success).
#   QEL_FAULT_SPACE_POINTS   space points (6)
#   QEL_FAULT_LINE_POINTS    line points besides the three fixed ones (2)
#   QEL_FAULT_POINTS         of all those points, the ones FIRST-LAST this run tries (all): the
#                            test run shares its 11 points between two tests side by side
source "$(dirname "$0")/lib.sh"
space_points=${QEL_FAULT_SPACE_POINTS:-6}
line_points=${QEL_FAULT_LINE_POINTS:-2}
if ! fault_drive_mounted; then
  echo "skip: no tmpfs drive G: (mount not permitted)"
  exit 0
fi
clean_up() {
  while mountpoint -q "$windows/win.ini"; do umount "$windows/win.ini"; done
  restore_windows
  rm -rf "$drive_g"/* 2>/dev/null || true
}
trap clean_up EXIT
build_fault_package
make_pristine_client
client=$drive_g/QELD
filler=$drive_g/FILLER.BIN
success="We successfully updated QEL in path G:\\QELD"

# WIN.INI on G: too, bound over the Windows folder's (the folder itself cannot move).
win_ini_on_g() {
  cp "$work/win.ini.before" "$drive_g/WIN.INI"
  mountpoint -q "$windows/win.ini" || mount --bind "$drive_g/WIN.INI" "$windows/win.ini"
}

# run_update TAG STEP...: SETUP.EXE under the robot; TAG.txt the transcript, TAG.out its output.
# The robot gives a run 120 s without a new window: a loaded machine takes far longer than the
# few seconds a run needs, and a run that hangs in a box still ends.
run_update() {
  local tag=$1 args=()
  shift
  for step in "$@"; do args+=(--step "$step"); done
  wine "$robot" --timeout 120000 --transcript "$work_win\\$tag.txt" "${args[@]}" -- \
    "$setup_exe" -T 'G:\QELD' -C >"$work/$tag.out" 2>/dev/null || true
  cp "$drive_c/update.log" "$work/$tag.log" 2>/dev/null || : >"$work/$tag.log"
}
boxes_in() { grep -c '^window .*class "#32770" caption "Setup"' "$1" || true; }  # the questions and error boxes

# The uninterrupted update, with the peak of its growth on G:.
fresh_client "$client"
win_ini_on_g
state "$client" "$work/before.state"
free_before=$(df --output=avail -B1 "$drive_g" | tail -n 1)
run_update reference &
lowest=$free_before
while kill -0 $! 2>/dev/null; do
  now=$(df --output=avail -B1 "$drive_g" | tail -n 1)
  [ "$now" -lt "$lowest" ] && lowest=$now
  sleep 0.01
done
wait
state "$client" "$work/after.state"
growth=$((free_before - lowest))
check "an uninterrupted run succeeds" has_line "$work/reference.out" "$success"
check "WIN.INI is written on G:" grep -q 'AppPath=G:' "$drive_g/WIN.INI"
reference_lines=$(wc -l <"$work/reference.log")
echo "uninterrupted run: grows G: by $growth bytes at most, $reference_lines log lines"

# The points: "space BYTES" or "line N".
points=()
for k in $(seq 0 $((space_points - 1))); do points+=("space $((growth * k / space_points))"); done
line_of() { grep -n -m1 -F -- "$1" "$work/reference.log" | cut -d: -f1; }
for text in "Old version: " "New version: " "Deleted file "; do
  n=$(line_of "$text") && [ -n "$n" ] && points+=("line $n")
done
merge_first=$(line_of "Old version: ") merge_last=$(line_of "New version: ")
for k in $(seq 1 "$line_points"); do points+=("line $((merge_first + (merge_last - merge_first) * k / (line_points + 1)))"); done

# prepare POINT: the client as before, G: as full as the point asks; prints the helper's pid.
prepare() {
  fresh_client "$client"
  win_ini_on_g
  rm -f "$filler"
  if [ "$1" = space ]; then
    local free
    free=$(df --output=avail -B1 "$drive_g" | tail -n 1)
    head -c $((free - $2)) /dev/zero >"$filler" 2>/dev/null || true
  else
    "$fault_check" fill-after "$drive_c/update.log" "$2" 'QELD -C' "$filler" >"$work/held.out" 2>&1 &
  fi
}

chosen=${QEL_FAULT_POINTS:-1-${#points[@]}}
points=("${points[@]:$((${chosen%-*} - 1)):$((${chosen#*-} - ${chosen%-*} + 1))}")
echo "points ${chosen} of the campaign: ${#points[@]}"

cancel_ok=0 retry_ok=0 filled=0 tried=0
# gave_up TAG: what the robot's transcript and the filler said when either waited in vain.
gave_up() {
  grep -h -m1 -e '^timeout waiting' "$work/$1.txt" 2>/dev/null | sed 's/^/robot: /' || true
  grep -h -m1 -e '^fault_check: ' "$work/held.out" 2>/dev/null || true
}
for point in "${points[@]}"; do
  read -r kind value <<<"$point"
  tried=$((tried + 1))
  point_started=$(date +%s)

  prepare "$kind" "$value"
  run_update cancel close close close close close close close close
  wait 2>/dev/null || true
  rm -f "$filler"
  cancel_waits=$(gave_up cancel)
  state "$client" "$work/cancel.state"
  cancel_boxes=$(boxes_in "$work/cancel.txt")
  site=$(grep -m1 -E "Couldn't|User stopped|Fatal error" "$work/cancel.log" | tr -d '\r' | cut -c1-60 || true)
  [ "$cancel_boxes" -gt 0 ] && filled=$((filled + 1))
  good=1
  "$fault_check" judge "$work/before.state" "$work/after.state" "$work/cancel.state" >"$work/judge.out" ||
    { good=0; fail "$point, Cancel: the client: $(grep -v ': ok$' "$work/judge.out" | head -n 5 | tr '\n' ' ')"; }
  if [ "$cancel_boxes" -gt 0 ] && has_line "$work/cancel.out" "$success"; then
    good=0
    fail "$point, Cancel: success reported"
  fi
  if [ "$cancel_boxes" -eq 0 ] && ! cmp -s "$work/after.state" "$work/cancel.state"; then
    good=0
    fail "$point, Cancel: no question, yet the update is not complete"
  fi
  [ $good = 1 ] && cancel_ok=$((cancel_ok + 1))
  cancel_good=$good

  prepare "$kind" "$value"
  run_update retry 'delete:G:\FILLER.BIN' press:4 close close close
  wait 2>/dev/null || true
  rm -f "$filler"
  retry_waits=$(gave_up retry)
  state "$client" "$work/retry.state"
  good=1
  if ! cmp -s "$work/after.state" "$work/retry.state"; then
    good=0
    fail "$point, Retry: differs from an uninterrupted update"
    diff "$work/after.state" "$work/retry.state" | head -n 10 >&2 || true
  fi
  has_line "$work/retry.out" "$success" || { good=0; fail "$point, Retry: no success reported"; }
  [ "$(boxes_in "$work/retry.txt")" -le 1 ] || { good=0; fail "$point, Retry: more than one question"; }
  [ $good = 1 ] && retry_ok=$((retry_ok + 1))
  verdict() { [ "$1" = 1 ] && echo ok || echo FAILED; }
  echo "$point: $cancel_boxes question(s)${site:+, log: \"$site\"}; Cancel $(verdict $cancel_good), Retry $(verdict $good)" \
    "($(($(date +%s) - point_started)) s)"
  [ -z "$cancel_waits" ] || echo "  Cancel waited in vain: $cancel_waits"
  [ -z "$retry_waits" ] || echo "  Retry waited in vain: $retry_waits"
  # What each run of the point saw, kept for a point that failed or waited.
  kept_point=$work/point-$((${chosen%-*} + tried - 1))
  rm -rf "$kept_point"
  if [ "$cancel_good$good" != 11 ] || [ -n "$cancel_waits$retry_waits" ]; then
    mkdir -p "$kept_point"
    cp "$work"/cancel.* "$work"/retry.* "$work/held.out" "$kept_point/" 2>/dev/null || true
  fi
done

echo "disk-full points tried: $tried, the disk filled during the run: $filled"
echo "Cancel kept the client and reported no success: $cancel_ok/$tried; Retry completed the update: $retry_ok/$tried"
finish
