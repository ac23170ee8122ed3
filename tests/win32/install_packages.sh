#!/usr/bin/env bash
# Makes the packages install_test installs, with qelpack, in D:\install_packages, and damages
# copies of one of them as a broken disk or download would. Run natively before install_test.
set -euo pipefail
: "${QEL_WINE_DIR:?}" "${QEL_NATIVE_DIR:?}" "${QEL_BUILD_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
out=$QEL_WINE_DIR/drive_d/install_packages
library=$QEL_BUILD_DIR/testbin/dunzipnt.dll
rm -rf "$out"
mkdir -p "$out/src/tool" "$out/src/help" "$out/src/idb"
cd "$out"
export TZ=UTC

# Deterministic contents: text lines, and bytes that do not compress.
# Text of the given size: the line repeated (python, as `yes | head` dies of SIGPIPE under pipefail).
text_file() { python3 -c 'import sys; l=(sys.argv[2]+"\r\n").encode(); n=int(sys.argv[3]); open(sys.argv[1],"wb").write((l*(n//len(l)+1))[:n])' "$1" "$2" "$3"; }
noise_file() { python3 -c 'import random,sys; random.seed(sys.argv[2]); sys.stdout.buffer.write(random.randbytes(int(sys.argv[3])))' "$@" >"$1"; }

text_file src/readme.txt "Qelmora readme line" 5000
text_file src/update.txt "raw member" 700
text_file src/qsysold.dll "old system library" 3000
text_file src/qsysnew.dll "new system library" 3100
text_file src/sub.dll "plain under system\\sub" 900
text_file src/help/qelhelp.txt "help text" 40000
text_file src/idb/merge.db "records" 1234
# A database the merge reads in place: stored raw and never installed as a file.
"$QEL_NATIVE_DIR/tools/qeldb/qeldb" create src/idb/inplace.db --id 0x01000401 >/dev/null
"$QEL_NATIVE_DIR/tools/qeldb/qeldb" put src/idb/inplace.db 0x01000020 --text "in place" >/dev/null
text_file src/tool/long2.txt "preserved by an 8-byte base name" 300
for name in same newer fresh; do text_file "src/tool/$name.ini" "[$name]" 120; done
touch -d '2026-01-02 03:04:06' src/tool/same.ini src/tool/fresh.ini
touch -d '2026-01-02 03:04:08' src/tool/newer.ini

# pack NAME: the manifest on standard input becomes NAME.ini and the bare package NAME.pkg.
pack() { cat >"$1.ini" && "$qelpack" build "$1.ini" -o "$1.pkg" --package-only >/dev/null; }

pack rules <<INI
[package]
product_name = Install rules
direct_member = UPDATE.TXT
[rename_list]
tool\\longfilename1.txt =
[merge_list_a]
idb\\inplace.db
[members]
dunzipnt.dll = $library
readme.txt = src/readme.txt
nine9.txt = src/readme.txt
UPDATE.TXT = src/update.txt
system\\qsysold.dll = src/qsysold.dll
system\\qsysnew.dll = src/qsysnew.dll
system\\sub\\sub.dll = src/sub.dll
help\\qelhelp.txt = src/help/qelhelp.txt
if_newer\\tool\\same.ini = src/tool/same.ini
if_newer\\tool\\newer.ini = src/tool/newer.ini
if_newer\\tool\\fresh.ini = src/tool/fresh.ini
tool\\longfilename2.txt = src/tool/long2.txt
idb\\merge.db = src/idb/merge.db
idb\\inplace.db = src/idb/inplace.db
INI

# Without the library as a member: it must already be in the client's folder.
pack nolibrary <<INI
[members]
readme.txt = src/readme.txt
INI

# An outside library, already in the client's folder, unpacks several members in a row.
pack outside <<INI
[members]
readme.txt = src/readme.txt
help\\qelhelp.txt = src/help/qelhelp.txt
update.txt = src/update.txt
INI

# Gauge: 12,000,000 bytes of which the delivered database is 3,000,000; and 20,000,000 bytes.
head -c 9000000 /dev/zero >src/nine.bin
# A long-form file header, then zeros: no record the merge would read, as the install loop needs none.
python3 -c 'import sys; open(sys.argv[1],"wb").write((b"QELDB-25\0"+bytes([1,4,0,1])).ljust(3000000,b"\0"))' src/idb/three.db
head -c 20000000 /dev/zero >src/twenty.bin
pack gauge12 <<INI
[merge_list_a]
idb\\merge.db
[members]
dunzipnt.dll = $library
nine.bin = src/nine.bin
idb\\merge.db = src/idb/three.db
INI
pack gauge20 <<INI
[members]
dunzipnt.dll = $library
twenty.bin = src/twenty.bin
INI

# Cancel: plain members around a preserved one, the first of 40,000 stored bytes (two chunks).
noise_file src/first.bin first 39800
pack cancel <<INI
[rename_list]
tool\\*.* =
[members]
dunzipnt.dll = $library
first.bin = src/first.bin
tool\\long2.txt = src/tool/long2.txt
readme.txt = src/readme.txt
help\\qelhelp.txt = src/help/qelhelp.txt
INI

noise_file src/data.bin data 30000
# A direct member (its bytes are the file itself) in a package cut short inside those bytes.
pack direct <<INI
[package]
product_name = Direct
direct_member = DATA.BIN
[members]
dunzipnt.dll = $library
data.bin = src/data.bin
INI
python3 -c 'import sys; d = open("direct.pkg", "rb").read(); open("direct_cut.pkg", "wb").write(d[:-10000])'

# Damaged copies of a package whose last member is damaged: its archive is bytes [offset, offset+stored).
pack damage <<INI
[members]
dunzipnt.dll = $library
readme.txt = src/readme.txt
data.bin = src/data.bin
INI
python3 - damage.pkg <<'PY'
import json, struct, subprocess, sys, os
qelpack = os.path.join(os.environ["QEL_NATIVE_DIR"], "tools/qelpack/qelpack")
listing = json.loads(subprocess.check_output([qelpack, "list", sys.argv[1], "--json"]))
member = listing["members"][2]
start, stored = member["data_offset"], member["stored_size"]
good = bytearray(open(sys.argv[1], "rb").read())
def save(name, data): open(name, "wb").write(bytes(data))
flipped = bytearray(good); flipped[start + 30 + len("DATA.BIN") + stored // 2] ^= 0x40; save("flipped.pkg", flipped)
# The archive's end record and central directory gone: the archive ends inside its data.
cut = bytearray(good); central = good.rfind(b"PK\x01\x02", start, start + stored)
cut[central:start + stored] = b"\0" * (start + stored - central); save("truncated.pkg", cut)
# The entry renamed (same length) in both headers: the file lands under another name.
renamed = bytearray(good)
for at in (start + 30, central + 46):
    assert renamed[at:at + 8] == b"DATA.BIN"; renamed[at:at + 8] = b"DATA.BAK"
save("renamed.pkg", renamed)
# The member table's unpacked size one byte too large.
table_entry = good.find(struct.pack("<H", 8) + b"data.bin")
assert table_entry > 0
wrong = bytearray(good); size_at = table_entry + 2 + 8
(size,) = struct.unpack_from("<I", wrong, size_at); struct.pack_into("<I", wrong, size_at, size + 1)
save("wrong_size.pkg", wrong)
PY
# Disk full: 700,000 bytes that do not compress, and a low-space program to offer.
noise_file src/big.bin big 700000
pack full <<INI
[package]
low_space_program = CLEANUP.EXE
[members]
dunzipnt.dll = $library
readme.txt = src/readme.txt
big.bin = src/big.bin
INI

echo "install packages made in $out"
