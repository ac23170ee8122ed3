#!/usr/bin/env bash
# The Program Manager item at the end of an update (-T DIR, so no closing dialog): through Wine's
# own shell, whose DDE server makes a Start Menu folder and shortcut, and through our peer
# (tools/peers/progman_peer), which owns a window of class "PROGMAN", records each command and
# can refuse one or never answer.
source "$(dirname "$0")/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
peer='E:\tools\peers\progman_peer\progman_peer.exe'
start_menu=$drive_c/users/$(whoami)/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs
group='Merge Tools'

cat >"$work/manifest.ini" <<EOF
[package]
product_name = Program Manager test
progman_group = $group
progman_item = My Tool
progman_program = TOOL.EXE
[members]
TOOL.EXE = $work/tool.exe
EOF
echo "a program" >"$work/tool.exe"
"$qelpack" build "$work/manifest.ini" -o "$work/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
mkdir -p "$work/APP/IDB"
cp "$QEL_BUILD_DIR/libs/dunzipnt/dunzipnt.dll" "$work/APP/"
"$QEL_NATIVE_DIR/tools/qeldb/qeldb" create "$work/APP/IDB/MAIN.IDX" --id 0x01000401 >/dev/null
log=$work/APP/update.log
trap 'rm -rf "$start_menu/$group"' EXIT

update() { wine "$work_win\\SETUP.EXE" -T "$work_win\\APP" >"$work/$1.out" 2>/dev/null || true; }
succeeded() { has_line "$work/$1.out" "We successfully updated QEL in path $work_win\\APP"; }
# start_peer REPORT OPTIONS...: a peer for 60 seconds at most; it ends with its conversation.
start_peer() {
  local report=$1
  shift
  rm -f "$work/$report"
  wine "$peer" "$work_win\\$report" 60 "$@" >/dev/null 2>&1 &
  peer_pids+=($!)
  for _ in $(seq 100); do
    [ -s "$work/$report" ] && return 0
    sleep 0.1
  done
  fail "progman peer $report did not start"
}
# The peers this scenario started, and no other program's: each ended, and waited for.
peer_pids=()
stop_peers() {
  local pid
  for pid in "${peer_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${peer_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  peer_pids=()
}
commands() { tr -d '\r' <"$work/$1" | grep '^execute ' | sed 's/ (manager enabled .)$//'; }

# Wine's shell: the group becomes a Start Menu folder, the item a shortcut to the program.
rm -rf "$start_menu/$group"
update wine
check "Wine's shell: the run succeeded" succeeded wine
check "Wine's shell: no PROGMAN window, the commands are sent anyway" has_line "$log" "Couldn't find PM window"
check "Wine's shell: every command acknowledged" lacks_line "$log" " failed"
link="$start_menu/$group/My Tool.lnk"
check "Wine's shell: the shortcut in the group's folder" test -f "$link"
check "Wine's shell: the shortcut points at the program" grep -qaiF 'APP\TOOL.EXE' "$link"

# Our peer: the three commands in order with their texts, Program Manager's window disabled
# while they run and enabled again afterwards.
start_peer peer.txt
update peer
stop_peers
check "peer: the three commands in order" \
  test "$(commands peer.txt | tr '\n' '|')" = "execute [CreateGroup($group)]|execute [AddItem($work_win\\APP\\TOOL.EXE,My Tool)]|execute [ShowGroup($group,7)]|"
# The conversation's end is posted and the enabling sent, and a sent message is taken before
# posted ones: the peer may see the two in either order, each after the last command.
check "peer: the window disabled during the commands, enabled after" \
  in_order "$work/peer.txt" "enable 0" "(manager enabled 0)" "(manager enabled 0)" "(manager enabled 0)" "enable 1"
check "peer: the conversation ended after the commands" \
  in_order "$work/peer.txt" "(manager enabled 0)" "(manager enabled 0)" "(manager enabled 0)" "terminate"
check "peer: no failure logged" lacks_line "$log" " failed"

# A refused CreateGroup is logged; AddItem and ShowGroup still go.
start_peer refuse.txt refuse:CreateGroup
update refuse
stop_peers
check "refused CreateGroup: logged" has_line "$log" "CreateGroup failed"
check "refused CreateGroup: the other two still sent" \
  test "$(commands refuse.txt | wc -l)" = 3 -a -z "$(grep -E 'AddItem failed|ShowGroup failed' "$log")"
check "refused CreateGroup: the run goes on" succeeded refuse

# Two servers of our own (and Wine's): the one that answers first keeps the conversation, the
# other is told to end it at once.
start_peer first.txt
start_peer second.txt
update two
stop_peers
one_partner() {
  local partner other
  if [ "$(commands first.txt | wc -l)" = 3 ]; then partner=first.txt other=second.txt; else partner=second.txt other=first.txt; fi
  [ "$(commands "$partner" | wc -l)" = 3 ] && [ -z "$(commands "$other")" ] &&
    in_order "$work/$other" initiate terminate
}
check "two servers: one partner, the other terminated at once" one_partner

# No window of class "PROGMAN": logged, the conversation still carries the commands.
start_peer nowindow.txt no-window
update nowindow
stop_peers
check "no PROGMAN window: logged" has_line "$log" "Couldn't find PM window"
check "no PROGMAN window: the commands still sent" test "$(commands nowindow.txt | wc -l)" = 3

# A command holds 255 characters: an AddItem one character longer is not sent cut short (without
# its closing bracket) but counts as failed; one character shorter goes whole. The program's path
# is the client's folder and "\TOOL.EXE"; "[AddItem(" ",My Tool)]" add 19.
long_client_run() {  # NAME FOLDER-LENGTH: an update of a copy of APP whose folder has that length
  local name=$1 folder
  folder=$(printf "%0$(($2 - ${#work_win} - 1))d" 0 | tr 0 L)
  rm -rf "${work:?}/$folder"
  cp -r "$work/APP" "$work/$folder"
  rm -f "$work/$folder/update.log"
  start_peer "$name.txt"
  wine "$work_win\\SETUP.EXE" -T "$work_win\\$folder" >"$work/$name.out" 2>/dev/null || true
  stop_peers
  long_log=$work/$folder/update.log
  long_program="$work_win\\$folder\\TOOL.EXE"
}
long_client_run too_long $((256 - 19 - 9))
check "AddItem one character too long: counted failed" has_line "$long_log" "AddItem failed"
check "AddItem one character too long: not sent" test -z "$(commands too_long.txt | grep AddItem)"
check "AddItem one character too long: the others sent" test "$(commands too_long.txt | wc -l)" = 2
long_client_run just_fits $((255 - 19 - 9))
check "AddItem of 255 characters: sent whole" \
  test "$(commands just_fits.txt | grep AddItem)" = "execute [AddItem($long_program,My Tool)]"
check "AddItem of 255 characters: no failure" lacks_line "$long_log" " failed"

# A window that never returns from the initiate (a hung program) costs one bounded wait: the run
# ends, Wine's own server still gets the commands, and the log says so.
start_peer hang.txt hang no-window
start=$(date +%s)
update hang
elapsed=$(( $(date +%s) - start ))
stop_peers
check "hung window: it got the initiate" has_line "$work/hang.txt" "hanging"
check "hung window: the run ends (took ${elapsed}s)" succeeded hang
check "hung window: logged" has_line "$log" "did not answer the DDE initiate in 3000 ms"
check "hung window: within the bound" test "$elapsed" -lt 30

# A server that never acknowledges: one bounded wait, the rest fail at once, the run ends.
start_peer silent.txt silent
start=$(date +%s)
update silent
elapsed=$(( $(date +%s) - start ))
stop_peers
check "silent server: the wait is logged" has_line "$log" "No answer from the DDE server in 10000 ms"
check "silent server: every command counted failed" \
  in_order "$log" "CreateGroup failed" "AddItem failed" "ShowGroup failed"
check "silent server: only the first command was sent" test "$(commands silent.txt | wc -l)" = 1
check "silent server: the run ends (took ${elapsed}s, bound 10s)" succeeded silent
check "silent server: within the bound" test "$elapsed" -lt 40

finish
