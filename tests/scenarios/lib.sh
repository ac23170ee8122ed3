# Sourced by the scenarios: paths of the build under Wine, a scratch folder on D: per scenario,
# the robot, and small assertions. The environment comes from the test run (cmake/wine-tests.cmake).
set -euo pipefail
: "${QEL_BUILD_DIR:?}" "${QEL_WINE_DIR:?}" "${WINEPREFIX:?}" "${QEL_WINE:?}" "${QEL_SOURCE_DIR:?}"
export WINEDEBUG=-all
source "$QEL_SOURCE_DIR/scripts/wine-env.sh"  # wine: this build's loader

scenario=$(basename "$0" .sh)
drive_c=$WINEPREFIX/drive_c
drive_d=$QEL_WINE_DIR/drive_d
work=$drive_d/$scenario            # D:\<scenario>
work_win="D:\\$scenario"
robot='E:\tools\robot\robot.exe'
peers='E:\tools\peers\setup_peers'
failures=0

rm -rf "$work"
mkdir -p "$work"
cd "$work"  # programs start in a folder that Windows can name

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# check DESCRIPTION COMMAND...: records a failure when the command fails.
check() {
  local description=$1
  shift
  if "$@"; then echo "ok: $description"; else fail "$description"; fi
}

# The number of dialogs and message boxes a transcript records.
windows_in() { grep -c '^window .*class "#32770"' "$1" || true; }

# in_order FILE TEXT...: each text occurs in the file, each on a line after the previous one's.
# (One reader of the whole file: a `tail | grep -m1` pipe fails at random under pipefail, when
# grep has gone before tail's last write.)
in_order() {
  local file=$1
  shift
  [ -f "$file" ] || return 1
  awk 'BEGIN { for (i = 2; i < ARGC; i++) wanted[i - 1] = ARGV[i]; count = ARGC - 2; ARGC = 2; next_text = 1 }
    next_text <= count && index($0, wanted[next_text]) { next_text++ }
    END { exit next_text <= count }' "$file" "$@"
}

has_line() { grep -qF -- "$2" "$1"; }
lacks_line() { ! grep -qF -- "$2" "$1" 2>/dev/null; }

# robot TRANSCRIPT STEP... -- PROGRAM ARGS...: runs PROGRAM under the robot; the transcript lands
# in $work/TRANSCRIPT. Steps are given without "--step"; "pass-by:ID" gives the robot --pass-by ID
# (a window with control ID, such as the search dialog's 1001, takes no step).
robot() {
  local transcript=$1
  shift
  local args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    case $1 in
      pass-by:*) args+=(--pass-by "${1#pass-by:}") ;;
      *) args+=(--step "$1") ;;
    esac
    shift
  done
  shift
  wine "$robot" --timeout 20000 --transcript "$work_win\\$transcript" "${args[@]}" -- "$@" >/dev/null 2>&1 || true
  # A robot that had to give up waited its whole time-out for nothing: the scenario's steps
  # missed a window, and the case would pass slowly or by chance.
  local gave_up
  gave_up=$(grep -m1 '^timeout waiting' "$work/$transcript" 2>/dev/null) &&
    fail "$transcript: the robot gave up: ${gave_up}, after $(grep -c '^window' "$work/$transcript") window(s)"
  return 0
}

# A copy of SETUP.EXE in a folder of D:, as a user would run it from a disk.
install_setup_copy() {
  mkdir -p "$work/$1"
  cp "$QEL_BUILD_DIR/src/SETUP.EXE" "$work/$1/SETUP.EXE"
}

# Runs a peer window in the background until its time runs out or it is killed.
start_window_peer() {
  local class=$1 seconds=$2 report=$3
  rm -f "$work/$report"
  wine "$peers\\window_peer.exe" "$class" "$seconds" "$work_win\\$report" >/dev/null 2>&1 &
  for _ in $(seq 100); do
    [ -s "$work/$report" ] && return 0
    sleep 0.1
  done
  fail "window peer $class did not start"
}

finish() {
  if [ "$failures" -ne 0 ]; then
    # What the robot saw, so that a failure in CI can be told from its output alone.
    for transcript in "$work"/*.txt; do
      [ -f "$transcript" ] || continue
      echo "== $(basename "$transcript")"
      tail -n 40 "$transcript"
    done
    echo "$scenario: $failures check(s) failed"
    exit 1
  fi
  echo "$scenario: all checks passed"
}
