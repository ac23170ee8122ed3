#!/usr/bin/env bash
# An update made by qelpack diff from two copies of a client, OLD and NEW (files changed, added
# and removed in subfolders; records changed, added and removed among 3,000), built into a
# SETUP.EXE and run unattended on a copy of OLD: afterwards the copy holds NEW's files byte for
# byte and NEW's records, and the diff's warnings name exactly the records only OLD had.
source "$(dirname "$0")/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
qeldb=$QEL_NATIVE_DIR/tools/qeldb/qeldb
fault_check=$QEL_NATIVE_DIR/tests/faults/fault_check
client_key='SOFTWARE\Qelmora\QEL\CurrentVersion'
cleanup() {
  wine reg delete "HKLM\\$client_key" /f >/dev/null 2>&1 || true
  wine reg delete "HKCU\\$client_key" /f >/dev/null 2>&1 || true
  wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qelmora' /f >/dev/null 2>&1 || true
}
trap cleanup EXIT
bytes() { "$fault_check" bytes "$1" "$2"; }  # SEED SIZE: that many bytes made from the seed

# The client both copies share: the sample client, 36 more files in three folders, 3,000 records.
common=$work/COMMON
bash "$QEL_SOURCE_DIR/scripts/sample-client.sh" "$common" "$QEL_BUILD_DIR" "$QEL_NATIVE_DIR"
mkdir -p "$common/DATA/MAPS" "$common/DOCS"
for i in $(seq -w 1 12); do
  bytes "1$i" $((500 + 10#$i * 3000)) >"$common/DATA/F$i.DAT"
  bytes "2$i" $((200 + 10#$i * 700)) >"$common/DATA/MAPS/M$i.MAP"
  printf 'Notes, part %s\r\n' "$i" >"$common/DOCS/N$i.TXT"
done
"$fault_check" fill "$common/IDB/MAIN.IDX" 0x02000000 2800 1 >/dev/null
"$fault_check" fill "$common/IDB/MAIN.IDX" 0x01000100 200 2 >/dev/null

old=$work/OLD new=$work/NEW
cp -r "$common" "$old"
cp -r "$common" "$new"
"$fault_check" fill "$old/IDB/MAIN.IDX" 0x02F00000 3 3 >/dev/null  # only OLD has these
# NEW: changed, added and removed files; changed (other sizes among them) and added records, a
# new build.
for i in 02 05 09; do bytes "3$i" 4000 >"$new/DATA/F$i.DAT"; done
printf 'Notes, part 3, revised\r\n' >"$new/DOCS/N03.TXT"
printf 'A new readme\r\n' >"$new/README.TXT"
mkdir -p "$new/DATA/SOUNDS"
bytes 41 9000 >"$new/DATA/SOUNDS/S01.WAV"
bytes 42 100 >"$new/DATA/MAPS/M13.MAP"
printf 'New notes\r\n' >"$new/DOCS/NEW.TXT"
rm "$new/DATA/F11.DAT" "$new/DATA/MAPS/M07.MAP" "$new/DOCS/N12.TXT"
"$fault_check" fill "$new/IDB/MAIN.IDX" 0x02000100 40 4 >/dev/null
"$fault_check" fill "$new/IDB/MAIN.IDX" 0x01000150 10 5 >/dev/null
"$fault_check" fill "$new/IDB/MAIN.IDX" 0x02A00000 25 6 >/dev/null
"$qeldb" put "$new/IDB/MAIN.IDX" 0x14000006 --hex 00CC0B >/dev/null

made=1
"$qelpack" diff "$old" "$new" "$work/UPDATE" --json >"$work/summary.json" || made=0
check "qelpack diff makes the update" test "$made" = 1
"$qelpack" diff "$old" "$new" "$work/TEXT" | tail -1  # the summary as text
summary() { python3 -c 'import json, sys; print(eval(sys.argv[2], {}, json.load(open(sys.argv[1]))))' "$work/summary.json" "$1"; }
check "summary: 3 added, 5 changed, 3 deleted" test "$(summary '(added, changed, deleted)')" = "(3, 5, 3)"
check "summary: 75 records delivered" test "$(summary 'records_delivered')" = 75
check "summary: accepts build 3010, makes version 3020" test "$(summary '(accepted_build, db_version)')" = "(3010, 3020)"
check "the warnings name exactly the records only OLD has" \
  test "$(summary 'sorted(w.split()[1] for w in warnings)')" = "['0x02F00000', '0x02F00001', '0x02F00002']"

check "qelpack builds the SETUP.EXE" "$qelpack" build "$work/UPDATE/manifest.ini" -o "$work/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE"
check "qelpack verifies it" "$qelpack" verify "$work/SETUP.EXE"

cp -r "$old" "$work/QEL"
wine "$work_win\\SETUP.EXE" -T "$work_win\\QEL" >"$work/setup.out" 2>/dev/null || true
check "the unattended update succeeded" has_line "$work/setup.out" "We successfully updated QEL in path"

# Files: names without regard to case (the package names files as the client's system does).
same_files() {
  python3 - "$new" "$work/QEL" <<'PY'
import os, sys
def tree(root):
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            files[os.path.relpath(path, root).upper()] = open(path, "rb").read()
    return files
new, updated = tree(sys.argv[1]), tree(sys.argv[2])
new.pop("IDB/MAIN.IDX"); updated.pop("IDB/MAIN.IDX")
updated.pop("UPDATE.LOG", None)  # the run's own log
wrong = sorted(n for n in new if updated.get(n) != new[n])
extra = sorted(set(updated) - set(new))
if wrong or extra: print("differ or missing:", wrong, "not in NEW:", extra)
sys.exit(1 if wrong or extra else 0)
PY
}
check "every file of the updated copy is NEW's, none missing, none left over" same_files

# Records: all of NEW's, with their kinds; beside them only the merge's stamps and the records a
# merge cannot remove.
records() {  # DB: "gid kind body" lines, without the merge's stamps and OLD's own
  "$qeldb" dump "$1" --json | python3 -c '
import json, sys
skip = {0x140000D1, 0x14000044, 0x14000046, 0x02F00000, 0x02F00001, 0x02F00002}
for r in json.load(sys.stdin)["records"]:
    if r["gid"] not in skip: print(r["gid"], r["kind"], r.get("hex", r.get("text")))' | sort
}
records "$new/IDB/MAIN.IDX" >"$work/new.records"
records "$work/QEL/IDB/MAIN.IDX" >"$work/updated.records"
check "every record of the updated MAIN.IDX is NEW's" cmp -s "$work/new.records" "$work/updated.records"
check "NEW's 3,027 records are all compared" test "$(wc -l <"$work/new.records")" -eq 3027
check "the records only OLD had are still there" test -n "$("$qeldb" get "$work/QEL/IDB/MAIN.IDX" 0x02F00001 --hex)"
check "MAIN.IDX is sound" "$qeldb" verify "$work/QEL/IDB/MAIN.IDX"
finish
