#!/usr/bin/env bash
# Member names in code page 932 whose double-byte characters end in 0x5C, the backslash's byte:
# packed with qelpack --code-page 932 and installed under a Japanese locale (Wine's ANSI code
# page 932), they land under their own names, in their own folders, and patterns still match.
source "$(dirname "$0")/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
driver='E:\tools\peers\setup_peers\install_driver.exe'
mkdir -p "$work/src"

# In code page 932: ソフト (83 5C 83 74 83 67), 表 (95 5C), 能 (94 5C).
soft=$'\x83\x5c\x83\x74\x83\x67' hyo=$'\x95\x5c' no=$'\x94\x5c'
printf 'table\r\n' >"$work/src/hyo.txt"
printf 'kept\r\n' >"$work/src/no.txt"
printf 'newer\r\n' >"$work/src/newer.ini"
cat >"$work/m.ini" <<INI
[rename_list]
$soft\\$no.* =
[members]
dunzipnt.dll = $QEL_BUILD_DIR/testbin/dunzipnt.dll
$soft\\$hyo.txt = src/hyo.txt
$soft\\$no.txt = src/no.txt
if_newer\\$hyo.ini = src/newer.ini
INI
check "qelpack builds the package" "$qelpack" --code-page 932 build "$work/m.ini" -o "$work/m.pkg" --package-only
check "qelpack verifies the entry names" "$qelpack" --code-page 932 verify "$work/m.pkg"

LC_ALL=ja_JP.UTF-8 wine "$driver" "$work_win\\m.pkg" "$work_win\\QEL" >"$work/out.txt" 2>&1 || true
cat "$work/out.txt"
check "installed" grep -q '^install_files=1 fatal=0' "$work/out.txt"
# Wine keeps Unix names in UTF-8: ソフト/表.TXT, 表.ini.
check "plain member in its double-byte folder" cmp -s "$work/src/hyo.txt" "$work/QEL/ソフト/表.TXT"
check "if-newer member under its real name" cmp -s "$work/src/newer.ini" "$work/QEL/表.ini"
check "preserved through a double-byte pattern" test ! -e "$work/QEL/ソフト/能.TXT"
check "log names the preserved member" grep -qF "(preserved)" "$work/QEL/update.log"
check "no stray folders cut at a trail byte" test "$(find "$work/QEL" -mindepth 1 -type d | wc -l)" -eq 1
finish
