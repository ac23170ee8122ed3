#!/usr/bin/env bash
# SETUP.EXE with a package made by qelpack: read through its own marker, or from a bare package
# named by -X; damaged packages end with their error numbers.
source "$(dirname "$0")/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
manifest=$QEL_SOURCE_DIR/samples/update/manifest.ini
mkdir -p "$work/DISK1" "$work/QEL/IDB"
# The client's own unzip library and main database, as an installed client has them.
cp "$QEL_BUILD_DIR/libs/dunzipnt/dunzipnt.dll" "$work/QEL/"
"$QEL_NATIVE_DIR/tools/qeldb/qeldb" create "$work/QEL/IDB/MAIN.IDX" --id 0x01000401 >/dev/null
"$QEL_NATIVE_DIR/tools/qeldb/qeldb" put "$work/QEL/IDB/MAIN.IDX" 0x14000006 --hex 00c20b >/dev/null

"$qelpack" build "$manifest" -o "$work/DISK1/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
"$qelpack" build "$manifest" -o "$work/update.pkg" --package-only >/dev/null
check "qelpack verify agrees" "$qelpack" verify "$work/DISK1/SETUP.EXE"

# Through the marker: the product name reaches the frame; the run goes on past the package.
robot marker.txt press:408 -- "$work_win\\DISK1\\SETUP.EXE" -T "$work_win\\QEL"
check "marker: frame titled with the product name" \
  has_line "$work/marker.txt" 'class "_QELSETUP_Frame" caption "Qelmora Sample Update"'
check "marker: the members were installed" test -n "$(find "$work/QEL" -iname readme.txt)" -a -n "$(find "$work/QEL/help" -iname qelhelp.txt)"
check "marker: no fatal error" lacks_line "$work/QEL/update.log" 'Fatal error'

# -X: a bare package read from its first byte by the program without a package of its own.
cp "$QEL_BUILD_DIR/src/SETUP.EXE" "$work/PLAIN.EXE"
robot bare.txt press:408 -- "$work_win\\PLAIN.EXE" -X "$work_win\\update.pkg" -T "$work_win\\QEL"
check "-X: frame titled with the product name" has_line "$work/bare.txt" 'caption "Qelmora Sample Update"'
check "-X: logged" has_line "$work/QEL/update.log" "Opt: Install file = $work_win\\update.pkg"

# Damaged packages: cut inside the header (5), inside the member table (6), magic gone (18).
size_of_header=$(( $("$qelpack" list "$work/update.pkg" --json | grep -o '"data_offset": *[0-9]*' | head -1 | grep -o '[0-9]*$') ))
damaged() {  # NAME EXPECTED-NUMBER
  robot "$1.txt" press:1 -- "$work_win\\PLAIN.EXE" -X "$work_win\\$1.pkg"
  check "damaged package $1: error $2" has_line "$work/$1.txt" "An error (#$2) has occurred"
}
head -c 40 "$work/update.pkg" >"$work/cut_header.pkg"
damaged cut_header 5
head -c $((size_of_header - 3)) "$work/update.pkg" >"$work/cut_members.pkg"
damaged cut_members 6
{ printf 'XS'; tail -c +3 "$work/update.pkg"; } >"$work/no_magic.pkg"
damaged no_magic 18

# A download cut short: ten members of 20,000 bytes, the last 30,000 bytes missing. It stops with
# error 8 before anything is touched: the client's files and database as they were, no archive left.
mkdir -p "$work/cut/src" "$work/CUTQEL/IDB"
cp "$work/QEL/dunzipnt.dll" "$work/CUTQEL/"
cp "$work/QEL/IDB/MAIN.IDX" "$work/CUTQEL/IDB/"
{ echo "[package]"; echo "product_name = Cut download"; echo "[members]"; } >"$work/cut/m.ini"
for i in $(seq 0 9); do
  head -c 20000 /dev/urandom >"$work/cut/src/m$i.bin"
  echo "old $i" >"$work/CUTQEL/m$i.bin"
  echo "m$i.bin = src/m$i.bin" >>"$work/cut/m.ini"
done
"$qelpack" build "$work/cut/m.ini" -o "$work/cut/WHOLE.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
whole_size=$(stat -c %s "$work/cut/WHOLE.EXE")
head -c $((whole_size - 30000)) "$work/cut/WHOLE.EXE" >"$work/cut/SETUP.EXE"
snapshot() { (cd "$work/CUTQEL" && find . -type f -print0 | sort -z | xargs -0 sha1sum); }
before=$(snapshot)
robot cut.txt press:1 -- "$work_win\\cut\\SETUP.EXE" -T "$work_win\\CUTQEL"
check "cut download: error 8" has_line "$work/cut.txt" "An error (#8) has occurred"
check "cut download: only the error was shown" test "$(windows_in "$work/cut.txt")" -eq 1
check "cut download: the client as it was" test "$(snapshot)" = "$before"
check "cut download: no archive left" test -z "$(find "$work/CUTQEL" "$drive_c" -iname 'dec*.tmp')"

finish
