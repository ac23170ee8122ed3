#!/usr/bin/env bash
# The killed-run campaign: the unattended update (-T DIR -D -C) of a client, killed with SIGKILL
# at a moment drawn from a seeded generator, anywhere from start-up to the finish. After each
# kill the client must hold every file and record wholly old or wholly new, none lost; the
# crash-mode log must hold the lines of an uninterrupted run up to some line; and a second run
# must leave exactly what an uninterrupted update leaves.
#   QEL_FAULT_KILLS   kills to try (20)
#   QEL_FAULT_ROUNDS  of those, the rounds FIRST-LAST this run tries (all): the test run shares
#                     its 20 rounds between two tests that run side by side; round N's moment
#                     is the same wherever it runs
#   QEL_FAULT_SEED    the generator's seed (1)
source "$(dirname "$0")/lib.sh"
kills=${QEL_FAULT_KILLS:-20}
rounds=${QEL_FAULT_ROUNDS:-1-$kills}
first_round=${rounds%-*} last_round=${rounds#*-}
seed=${QEL_FAULT_SEED:-1}
trap restore_windows EXIT
build_fault_package
make_pristine_client
# The client on G:, a tmpfs, where the prefix has it: a killed process loses no written byte, so
# the disk's flushes would only slow the campaign down.
if fault_drive_mounted; then
  client=$drive_g/QELK
  client_win='G:\QELK'
else
  client=$work/QELK
  client_win="$work_win\\QELK"
fi
trap 'restore_windows; rm -rf "$drive_g/QELK"' EXIT

# run_update: SETUP.EXE on the client to its end; its crash-mode log is kept as FILE.
# A run that shows a box (a fatal error) would wait for an answer: it is ended after 120 s. Its
# exit status is left in $update_status (137 for a run so ended).
run_update() {
  update_status=0
  timeout -s KILL 120 "$QEL_WINE" "$setup_exe" -T "$client_win" -D -C >/dev/null 2>"$1.err" || update_status=$?
  cp "$drive_c/update.log" "$1" 2>/dev/null || : >"$1"
}

# timed_update LOG: an uninterrupted run on a fresh client; its time in ms in $run_ms.
timed_update() {
  fresh_client "$client"
  local started
  started=$(date +%s%N)
  run_update "$1"
  run_ms=$((($(date +%s%N) - started) / 1000000))
}
fresh_client "$client"
state "$client" "$work/before.state"
timed_update "$work/reference.log"
state "$client" "$work/after.state"
check "an uninterrupted run updates the client" has_line "$work/reference.log" "New version: "
check "the uninterrupted run changes files and records" test -n "$(comm -13 "$work/before.state" "$work/after.state")"
# The first run in a prefix also waits on Wine's own first start: the kills are drawn over the
# time of a second one, when it is shorter.
first_ms=$run_ms
timed_update "$work/again.log"
state "$client" "$work/again.state"
check "a second uninterrupted run leaves the same client" cmp -s "$work/after.state" "$work/again.state"
[ "$first_ms" -lt "$run_ms" ] && run_ms=$first_ms
last_line=$(tail -n 1 "$work/reference.log" | tr -d '\r')
echo "uninterrupted run: $run_ms ms, $(wc -l <"$work/reference.log") log lines"

RANDOM=$seed
tried=0 landed=0 whole=0 kept=0 records=0 logs=0 completed=0 superseded=0
: >"$work/temporaries"
for round in $(seq "$last_round"); do
  # Up to a tenth past the uninterrupted run's time, so that some kills come after the finish.
  delay=$(( (RANDOM * 32768 + RANDOM) % (run_ms * 11 / 10 + 1) ))
  [ "$round" -ge "$first_round" ] || continue
  fresh_client "$client"
  "$QEL_WINE" "$setup_exe" -T "$client_win" -D -C >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  tried=$((tried + 1))
  outcome="finished first"
  if kill -KILL "$pid" 2>/dev/null; then
    outcome="killed"
    wait "$pid" 2>/dev/null || true
    # Killed before its last line: the run was cut short.
    if [ "$(tail -n 1 "$drive_c/update.log" 2>/dev/null | tr -d '\r')" != "$last_line" ]; then
      landed=$((landed + 1))
      outcome="killed mid-run"
    fi
  else
    wait "$pid" 2>/dev/null || true
  fi
  # A run that ended before its kill took at most that long: the uninterrupted runs were timed
  # on a busier machine (every test of the run starts at once), and the later moments are drawn
  # over the shorter time.
  if [ "$outcome" != "killed mid-run" ] && [ "$delay" -lt "$run_ms" ]; then
    echo "round $round: the run took at most $delay ms: later moments drawn over that"
    run_ms=$delay
  fi
  state "$client" "$work/killed.state"
  # What the kill left, kept for a round that fails: the client, WIN.INI and the log.
  failures_before=$failures
  rm -rf "$work/killed"
  cp -a "$client" "$work/killed"
  cp "$windows/win.ini" "$work/killed-win.ini" 2>/dev/null || true
  cp "$drive_c/update.log" "$work/killed.log" 2>/dev/null || : >"$work/killed.log"
  "$fault_check" judge "$work/before.state" "$work/after.state" "$work/killed.state" >"$work/judge.out" || true
  if has_line "$work/judge.out" "files whole: ok"; then whole=$((whole + 1)); else fail "round $round: a file is mixed"; fi
  if has_line "$work/judge.out" "files kept: ok"; then kept=$((kept + 1)); else fail "round $round: a file is lost"; fi
  if has_line "$work/judge.out" "records: ok"; then records=$((records + 1)); else fail "round $round: MAIN.IDX"; fi
  if log_lines=$("$fault_check" log "$work/reference.log" "$drive_c/update.log"); then
    logs=$((logs + 1))
  else
    fail "round $round: the log: $log_lines"
    log_lines=?
  fi
  run_update "$work/second.log"
  state "$client" "$work/second.state"
  if cmp -s "$work/after.state" "$work/second.state"; then
    completed=$((completed + 1))
  else
    fail "round $round: the second run differs from an uninterrupted one"
    diff "$work/after.state" "$work/second.state" | head -n 20 >&2 || true
  fi
  if [ "$failures" != "$failures_before" ]; then
    kept_round=$work/failed-round-$round
    rm -rf "$kept_round"
    mkdir -p "$kept_round"
    mv "$work/killed" "$kept_round/client"
    cp "$work/killed.log" "$work/killed-win.ini" "$work/second.log" "$work/second.log.err" "$work/judge.out" \
      "$kept_round/" || true
    # What Wine itself said of the second run (a program that ended before its first log line).
    [ -s "$work/second.log.err" ] && sed 's/^/round '"$round"': the second run said: /' "$work/second.log.err" | head -n 5 >&2
    echo "round $round: the second run ended with status $update_status" >&2
    if cmp -s "$work/killed.log" "$work/second.log"; then
      echo "round $round: the second run wrote no line to the log" >&2
    fi
    echo "round $round: kept in $kept_round" >&2
  fi
  grep '^  temporary ' "$work/judge.out" | sed 's/^  temporary //' >>"$work/temporaries" || true
  superseded=$((superseded + $(grep -c '^  W ' "$work/judge.out" || true)))
  echo "round $round: after $delay ms, $outcome, $log_lines log lines," \
    "$(grep -c '^  temporary ' "$work/judge.out" || true) temporaries"
  grep -v -e ': ok$' -e '^temporaries' -e '^  temporary ' -e '^records with' "$work/judge.out" | head -n 20 || true
done

echo "kills tried: $tried, landed mid-run: $landed"
echo "files whole: $whole/$tried, files kept: $kept/$tried, records: $records/$tried, log: $logs/$tried," \
  "second run equal to an uninterrupted one: $completed/$tried"
echo "records left with a superseded live copy (marked by the next open): $superseded"
echo "left by kills, removed by the second run: $(sort "$work/temporaries" | uniq -c | awk '{printf "%s (%d) ", $2, $1}')"
check "most kills land mid-run" test $((landed * 2)) -gt "$tried"
finish
