#!/usr/bin/env bash
# The merge stage of unattended updates (-T DIR, no closing dialog) on clients of the sample's layout: the
# delivered IDB\MERGE.DB and the databases merged in place reach MAIN.IDX (read back with
# qeldb), the version records are stamped, the deferred moves are made, WIN.INI, the registry,
# the help contents and the uninstall entry are written; the disk filling up during the merge.
source "$(dirname "$0")/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
qeldb=$QEL_NATIVE_DIR/tools/qeldb/qeldb
client_key='SOFTWARE\Qelmora\QEL\CurrentVersion'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qelmora'
windows=$drive_c/windows
contents=$windows/Help/Windows.cnt
drive_f=$QEL_WINE_DIR/drive_f
start_menu=$drive_c/users/$(whoami)/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs
mkdir -p "$work/src" "$windows/Help"

cleanup() {
  rm -rf "$drive_f/QELF" "$work"/QEL* "$start_menu/Merge Client"
  wine reg delete "HKLM\\$client_key" /f >/dev/null 2>&1 || true
  wine reg delete "HKCU\\$client_key" /f >/dev/null 2>&1 || true
  wine reg delete "$uninstall_key" /f >/dev/null 2>&1 || true
  rm -f "$contents"
}
trap cleanup EXIT

# db FILE [--short] GID:HEX...: a database file of the client's id with those records, in order.
db() {
  local file=$1 form=()
  shift
  [ "${1:-}" = --short ] && { form=(--short); shift; }
  rm -f "$file"
  "$qeldb" create "$file" --id 0x01000401 "${form[@]}" >/dev/null
  for record in "$@"; do "$qeldb" put "$file" "${record%%:*}" --hex "${record#*:}" >/dev/null; done
}
# A body of N bytes, as hex.
bytes() { head -c "$1" /dev/zero | tr '\0' "${2:-a}" | od -An -v -tx1 | tr -d ' \n'; }
body() { "$qeldb" get "$1" "$2" --hex 2>/dev/null; }
kind_of() { "$qeldb" dump "$1" | sed -n "s/^gid $2  kind \"\\(.\\)\"  flags \\(0x[0-9a-f]*\\) .*/\\1 \\2/p"; }

# pack NAME [PACKAGE-LINES]: NAME.exe from the members listed on standard input (name = source).
pack() {
  { echo "[package]"; echo "product_name = Merge test"; printf '%b' "${2:-}"; echo "[members]"; cat; } >"$work/$1.ini"
  "$qelpack" build "$work/$1.ini" -o "$work/$1.exe" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
}
# client DIR [--short]: the sample client, its MAIN.IDX in the given form.
client() {
  rm -rf "$1"
  bash "$QEL_SOURCE_DIR/scripts/sample-client.sh" "$1" "$QEL_BUILD_DIR" "$QEL_NATIVE_DIR"
  [ "${2:-}" = --short ] && db "$1/IDB/MAIN.IDX" --short 0x14000006:00c20b 0x01000010:5145
  return 0
}
# update NAME DIR-WINDOWS: the unattended run; its standard output in NAME.out.
update() { wine "$work_win\\$1.exe" -T "$2" >"$work/$1.out" 2>/dev/null || true; }
no_key() { ! wine reg query "$1" >/dev/null 2>&1; }
succeeded() { has_line "$work/$1.out" "We successfully updated QEL in path"; }

echo "plain text" >"$work/src/readme.txt"

# The whole stage: a delivered database with a replacement of another size, a record of the
# 0x01 range, an empty record and a version record; the stamps; WIN.INI, the registry, the
# help contents (whose last line has no line end) and the uninstall entry.
db "$work/src/merge.db" 0x14000006:000506 0x01000010:$(bytes 40) 0x02000003: 0x02000001:0102030405060708
echo "the game" >"$work/src/game.exe"
pack full 'db_version = 3.2\npackage_version = 9.8.7\ntag = MERGE-TAG\nprogman_group = Merge Client\nprogman_item = The Client\nprogman_program = ZOVE.EXE\n' <<EOF
readme.txt = $work/src/readme.txt
IDB\\MERGE.DB = $work/src/merge.db
vedurov.exe = $work/src/game.exe
EOF
rm -rf "$start_menu/Merge Client" "$windows/VEDUROV.PIF"
client "$work/QEL"
printf ':Base windows.hlp\r\n:Title Windows Help' >"$contents"
update full "$work_win\\QEL"
main=$work/QEL/IDB/MAIN.IDX
log=$work/QEL/update.log
check "full: the run succeeded" succeeded full
check "full: the installed mark" test "$(body "$main" 0x140000D1)" = 00000001
check "full: the version record got db_version 3.2 after the copy" test "$(body "$main" 0x14000006)" = 000302
check "full: the old and new versions logged" in_order "$log" "Old version: 5.6" "New version: 3.2"
check "full: the replacement of another size" test "$(body "$main" 0x01000010)" = "$(bytes 40)"
check "full: a 0x01 record written with kind p (mark 0x20 clear)" test "$(kind_of "$main" 0x01000010)" = "p 0x00"
check "full: other records with kind b" test "$(kind_of "$main" 0x02000001)" = "b 0x20"
check "full: the new record" test "$(body "$main" 0x02000001)" = 0102030405060708
check "full: the empty record is not copied nor logged" \
  test -z "$(body "$main" 0x02000003)" -a -z "$(grep 'GID 33554435' "$log")"
check "full: the package version and the marker tag as texts" \
  test "$(kind_of "$main" 0x14000044)" = "t 0x20" -a "$("$qeldb" get "$main" 0x14000044)" = 9.8.7 \
  -a "$("$qeldb" get "$main" 0x14000046)" = MERGE-TAG
check "full: every record of MAIN.IDX has one live copy" "$qeldb" verify "$main"
check "full: MERGE.DB deleted" test -z "$(find "$work/QEL/IDB" -iname merge.db)"
check "full: no copy of WIN.INI left" test -z "$(find "$windows" -maxdepth 1 -iname 'qelwin.*')"
check "full: WIN.INI section ZOVE" in_order "$windows/win.ini" "[ZOVE]" "Installed=US" "AppPath=$work_win\\QEL"
for root in HKLM HKCU; do
  check "full: AppPath under $root" has_line <(wine reg query "$root\\$client_key" /v AppPath 2>/dev/null) "$work_win\\QEL"
done
check "full: the help lines appended as they are" cmp -s "$contents" <(printf ':Base windows.hlp\r\n:Title Windows Help:Index Qelmora Help=qel95f.hlp\r\n:Link qel95f.hlp\r\n:include qel95f.cnt\r\n')
pif_names_game() { [ "$(stat -c %s "$windows/VEDUROV.PIF")" = 545 ] && grep -qaF "$work_win\\QEL\\VEDUROV.EXE" "$windows/VEDUROV.PIF"; }
check "full: the DOS game's PIF names the game" pif_names_game
check "full: the Start Menu shortcut to the program" grep -qaiF 'QEL\ZOVE.EXE' "$start_menu/Merge Client/The Client.lnk"
check "full: the uninstall entry" has_line <(wine reg query "$uninstall_key" /v UninstallString 2>/dev/null) "$work_win\\QEL\\RM_QEL.EXE"

# A second update on the same client: the marker keeps the help lines from being appended twice.
cp "$contents" "$work/contents.before"
db "$work/src/merge.db" 0x02000001:ff
pack again <<EOF
IDB\\MERGE.DB = $work/src/merge.db
EOF
update again "$work_win\\QEL"
check "again: the help contents unchanged" cmp -s "$contents" "$work/contents.before"
check "again: the record replaced in place" test "$(body "$main" 0x02000001)" = ff

# No delivered database: no copy, but the mark, the stamps, WIN.INI and the registry.
pack nomerge 'db_version = 2.1\npackage_version = 1.0\n' <<EOF
readme.txt = $work/src/readme.txt
EOF
client "$work/QEL"
wine reg delete "$uninstall_key" /f >/dev/null 2>&1 || true
rm -f "$work/QEL/RM_QEL.EXE"
printf ':Base windows.hlp\r\n:Index Old=QEL95F.CNT\r\n' >"$contents"
update nomerge "$work_win\\QEL"
check "no MERGE.DB: succeeded" succeeded nomerge
check "no MERGE.DB: the mark and the stamps" \
  test "$(body "$main" 0x140000D1)" = 00000001 -a "$(body "$main" 0x14000006)" = 000201 -a "$("$qeldb" get "$main" 0x14000044)" = 1.0
check "no MERGE.DB: nothing opened" lacks_line "$work/QEL/update.log" "Old version"
check "no MERGE.DB: WIN.INI written" has_line "$windows/win.ini" "AppPath=$work_win\\QEL"
check "absent remover: no uninstall entry" no_key "$uninstall_key"
check "marker in capitals does not count: lines appended" has_line "$contents" ":include qel95f.cnt"

# WIN.INI cut short by a run stopped while it wrote there, its whole copy QELWIN.BAK beside it:
# the next run puts the copy back before it writes its keys, so the other entries are not lost.
# A copy beside a WIN.INI that holds all its entries is only removed: later entries stay.
cp "$windows/win.ini" "$work/win.ini.saved"
printf '[windows]\r\nload=\r\n[Qel Test]\r\nkeep = this one\r\n[ZOVE]\r\nInstalled=US\r\nAppPath=C:\\OLD\r\n' \
  >"$windows/QELWIN.BAK"
printf '[ZOVE]\r\nInstalled=US\r\nAppPa' >"$windows/win.ini"
update nomerge "$work_win\\QEL"
check "cut WIN.INI: succeeded" succeeded nomerge
check "cut WIN.INI: the other entries are back" in_order "$windows/win.ini" "[Qel Test]" "this one" "[ZOVE]"
check "cut WIN.INI: the new keys written" has_line "$windows/win.ini" "AppPath=$work_win\\QEL"
check "cut WIN.INI: no copy left" test -z "$(find "$windows" -maxdepth 1 -iname 'qelwin.*')"
printf '[Qel Test]\r\nkeep=this one\r\n' >"$windows/QELWIN.BAK"
printf '[qel test]\r\nKEEP=this one\r\n[Later]\r\nadded=afterwards\r\n' >"$windows/win.ini"
update nomerge "$work_win\\QEL"
check "whole WIN.INI beside a copy: the later entry stays" has_line "$windows/win.ini" "added=afterwards"
check "whole WIN.INI beside a copy: no copy left" test -z "$(find "$windows" -maxdepth 1 -iname 'qelwin.*')"
# A copy left long ago beside a WIN.INI that another program has edited since (shorter, yet not a
# cut form of the copy): the edits stay, and the stale copy goes.
printf '[Qel Test]\r\nkeep=this one\r\nold=value\r\n[windows]\r\nload=\r\n' >"$windows/QELWIN.BAK"
printf '[Qel Test]\r\nkeep=this one\r\nold=edited\r\n' >"$windows/win.ini"
update nomerge "$work_win\\QEL"
check "edited WIN.INI beside an old copy: the edit stays" has_line "$windows/win.ini" "old=edited"
check "edited WIN.INI beside an old copy: not put back" lacks_line "$windows/win.ini" "old=value"
check "edited WIN.INI beside an old copy: the copy is dropped" test -z "$(find "$windows" -maxdepth 1 -iname 'qelwin.*')"
check "edited WIN.INI beside an old copy: logged" has_line "$work/QEL/update.log" "the copy is dropped"

# Once the records are in, a WIN.INI that cannot take the client's keys takes nothing back: the
# client stays wholly updated. A WIN.INI that cannot be written for another reason than space (on
# a read-only mount) gets no question about disk space; the failure is logged and the update
# stands.
new_version_in() { test "$(body "$1/IDB/MAIN.IDX" 0x14000006)" = 000201 && cmp -s "$work/src/readme.txt" "$1/README.TXT"; }
client "$work/QEL"
cp "$work/win.ini.saved" "$windows/win.ini"
if mount --bind "$windows/win.ini" "$windows/win.ini" 2>/dev/null; then
  mount -o remount,bind,ro "$windows/win.ini"
  robot readonly.txt -- "$work_win\\nomerge.exe" -T "$work_win\\QEL"
  while mountpoint -q "$windows/win.ini"; do umount "$windows/win.ini"; done
  check "read-only WIN.INI: no question" test "$(windows_in "$work/readonly.txt")" = 0
  check "read-only WIN.INI: logged" has_line "$work/QEL/update.log" "Couldn't write WIN.INI (error"
  check "read-only WIN.INI: the update stands" new_version_in "$work/QEL"
  check "read-only WIN.INI: nothing taken back" lacks_line "$work/QEL/update.log" "Cleaning up"
  check "read-only WIN.INI: the registry names the client" \
    has_line <(wine reg query "HKLM\\$client_key" /v AppPath 2>/dev/null) "$work_win\\QEL"
else
  echo "skip: no bind mount (read-only WIN.INI)"
fi
# WIN.INI on a full disk (bound onto F:, one page of it full): the question comes; after Cancel
# the client is still wholly updated, and a run of the same package once there is room writes
# the keys.
if [ -d "$drive_f" ] && mountpoint -q "$drive_f"; then
  client "$work/QEL"
  { printf '[windows]\r\nload=\r\n;'; head -c 8192 /dev/zero | tr '\0' x; } | head -c 4094 >"$drive_f/WIN.INI"
  printf '\r\n' >>"$drive_f/WIN.INI"
  mount --bind "$drive_f/WIN.INI" "$windows/win.ini"
  head -c $(( $(df --output=avail -B1 "$drive_f" | tail -n 1) )) /dev/zero >"$drive_f/filler" 2>/dev/null || true
  robot winini_full.txt press:2 -- "$work_win\\nomerge.exe" -T "$work_win\\QEL"
  check "WIN.INI on a full disk: the question came" grep -qi 'disk space' "$work/winini_full.txt"
  check "WIN.INI on a full disk, Cancel: logged" has_line "$work/QEL/update.log" "Couldn't write WIN.INI"
  check "WIN.INI on a full disk, Cancel: the client wholly updated" new_version_in "$work/QEL"
  check "WIN.INI on a full disk, Cancel: nothing taken back" lacks_line "$work/QEL/update.log" "Cleaning up"
  rm -f "$drive_f/filler"
  update nomerge "$work_win\\QEL"
  check "WIN.INI on a full disk, run again with room: succeeded" succeeded nomerge
  check "WIN.INI on a full disk, run again with room: the keys written" has_line "$windows/win.ini" "AppPath=$work_win\\QEL"
  while mountpoint -q "$windows/win.ini"; do umount "$windows/win.ini"; done
  rm -f "$drive_f/WIN.INI"
  cp "$work/win.ini.saved" "$windows/win.ini"
else
  echo "skip: no small drive F: (WIN.INI on a full disk)"
fi
cp "$work/win.ini.saved" "$windows/win.ini"

# A MERGE.DB that holds no records (a text file reads as an empty database): nothing copied,
# the stage succeeds and deletes it.
echo "not a database" >"$work/src/broken.db"
pack broken <<EOF
IDB\\MERGE.DB = $work/src/broken.db
EOF
client "$work/QEL"
update broken "$work_win\\QEL"
check "MERGE.DB without records: no version, nothing written" \
  test -n "$(grep -F 'Old version: 0.0' "$work/QEL/update.log")" -a -z "$(grep -F 'Wrote GID' "$work/QEL/update.log")"
check "MERGE.DB without records: succeeded, file deleted" \
  test -z "$(find "$work/QEL/IDB" -iname merge.db)" -a -n "$(grep -F 'We successfully updated' "$work/broken.out")"

# The batch: 64000 bytes stay in memory, the record that brings them above goes out with them.
# The source is visited newest first; a batch is written last read first.
batch_order() { grep -o 'Wrote GID [0-9]*' "$work/QEL/update.log" | grep -v 33554432 | awk '{print $3}' | tr '\n' ' '; }
db "$work/src/merge.db" 0x02000003:$(bytes 1) 0x02000002:$(bytes 32000) 0x02000001:$(bytes 32000)
pack batch <<EOF
IDB\\MERGE.DB = $work/src/merge.db
EOF
client "$work/QEL"
update batch "$work_win\\QEL"
check "64000 bytes: one batch (3, 2, 1)" test "$(batch_order)" = "33554435 33554434 33554433 "
db "$work/src/merge.db" 0x02000003:$(bytes 1) 0x02000002:$(bytes 32001) 0x02000001:$(bytes 32000)
pack batch <<EOF
IDB\\MERGE.DB = $work/src/merge.db
EOF
client "$work/QEL"
update batch "$work_win\\QEL"
check "64001 bytes: out at once (2, 1), then 3" test "$(batch_order)" = "33554434 33554433 33554435 "

# A MAIN.IDX of the short form takes the records in its own form.
db "$work/src/merge.db" 0x01000010:$(bytes 300) 0x02000001:0102
pack short 'db_version = 3.2\n' <<EOF
IDB\\MERGE.DB = $work/src/merge.db
EOF
client "$work/QEL" --short
update short "$work_win\\QEL"
check "short form: succeeded" succeeded short
check "short form: still short, records in" \
  test -n "$("$qeldb" dump "$main" | head -1 | grep 'short form')" -a "$(body "$main" 0x01000010)" = "$(bytes 300)" \
  -a "$(body "$main" 0x14000006)" = 000302
check "short form: one live copy each" "$qeldb" verify "$main"

# Databases merged in place from the package (lists A and B), never installed; a "move" rule
# of the preparation, which takes only the client's own files (already where it puts them):
# the folder SETUP.EXE starts in gives nothing to the client.
db "$work/src/a.db" 0x03000001:0a 0x03000002:$(bytes 500)
db "$work/src/b.db" 0x03000003:0b
mkdir -p "$work/OLDDATA"
echo "not the client's" >"$work/OLDDATA/KEEP.DAT"
pack inplace '[merge_list_a]\nidb\\a.db\n[merge_list_b]\nidb\\b.db\n[rename_list]\nOLDDATA\\*.DAT = move\n' <<EOF
readme.txt = $work/src/readme.txt
idb\\a.db = $work/src/a.db
idb\\b.db = $work/src/b.db
EOF
check "in place: stored raw" has_line <("$qelpack" list "$work/inplace.exe") "merged in place"
client "$work/QEL"
mkdir -p "$work/QEL/OLDDATA"
echo "the client's" >"$work/QEL/OLDDATA/OWN.DAT"
update inplace "$work_win\\QEL"
check "in place: succeeded" succeeded inplace
check "in place: the records of both lists" \
  test "$(body "$main" 0x03000001)" = 0a -a "$(body "$main" 0x03000002)" = "$(bytes 500)" -a "$(body "$main" 0x03000003)" = 0b
check "in place: not installed as files" test -z "$(find "$work/QEL/IDB" -iname '?.db')"
check "move rule: the current folder's file stays there" \
  test -f "$work/OLDDATA/KEEP.DAT" -a ! -e "$work/QEL/OLDDATA/KEEP.DAT"
check "move rule: the client's file stays where it is, nothing to move" \
  test "$(cat "$work/QEL/OLDDATA/OWN.DAT")" = "the client's" -a -z "$(grep -F -e 'Moved ' -e "Couldn't move" "$work/QEL/update.log")"

# On Windows NT no help lines and no uninstall entry.
printf ':Base windows.hlp\r\n' >"$contents"
wine reg delete "$uninstall_key" /f >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win2k /f >/dev/null 2>&1
client "$work/QEL"
update nomerge "$work_win\\QEL"
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win98 /f >/dev/null 2>&1
check "NT: succeeded" succeeded nomerge
check "NT: help contents untouched" cmp -s "$contents" <(printf ':Base windows.hlp\r\n')
check "NT: no uninstall entry" no_key "$uninstall_key"

# The disk fills up during the merge (F:, 2 MiB): the question; Retry after space is freed
# completes, Cancel ends the stage with what was written still readable.
if [ -d "$drive_f" ] && mountpoint -q "$drive_f"; then
  records=()
  for n in $(seq 1 12); do records+=("$(printf '0x020000%02x' "$n"):$(bytes 30000 b)"); done
  db "$work/src/merge.db" "${records[@]}"
  pack full_disk <<EOF
IDB\\MERGE.DB = $work/src/merge.db
EOF
  full_disk_run() {  # TRANSCRIPT ANSWER-STEPS...
    rm -rf "$drive_f/QELF"
    client "$drive_f/QELF"
    local free_kb
    free_kb=$(df --output=avail -k "$drive_f" | tail -1)
    # Room for the delivered database but not for its records a second time.
    head -c $(( (free_kb - 500) * 1024 )) /dev/zero >"$drive_f/filler" 2>/dev/null || true
    local transcript=$1
    shift
    robot "$transcript" "$@" -- "$work_win\\full_disk.exe" -T 'F:\QELF' &
    local robot_pid=$!
    for _ in $(seq 200); do
      grep -q 'disk space' "$work/$transcript" 2>/dev/null && break
      sleep 0.1
    done
    rm -f "$drive_f/filler"
    wait "$robot_pid"
  }
  full_box='disk space'
  full_disk_run full_retry.txt pause:1500 press:4
  check "disk full, Retry: the question came" grep -qi "$full_box" "$work/full_retry.txt"
  check "disk full, Retry: every record in" \
    test "$("$qeldb" dump "$drive_f/QELF/IDB/MAIN.IDX" | grep -c '^gid 0x020000')" = 12
  check "disk full, Retry: succeeded" has_line "$drive_f/QELF/update.log" "Wrote GID 33554433 (size 30000)"
  full_disk_run full_cancel.txt press:2
  check "disk full, Cancel: the question came" grep -qi "$full_box" "$work/full_cancel.txt"
  check "disk full, Cancel: what was written reads back" "$qeldb" verify "$drive_f/QELF/IDB/MAIN.IDX"
  written=$("$qeldb" dump "$drive_f/QELF/IDB/MAIN.IDX" | grep -c '^gid 0x020000' || true)
  check "disk full, Cancel: some records in, not all ($written of 12)" test "$written" -gt 0 -a "$written" -lt 12
  check "disk full, Cancel: the stage ended, the installed files removed again" \
    in_order "$drive_f/QELF/update.log" "Wrote GID" "Cleaning up"
  rm -rf "$drive_f/QELF" "$drive_f/filler"
else
  echo "skip: no small drive F: (disk full during the merge)"
fi

finish
