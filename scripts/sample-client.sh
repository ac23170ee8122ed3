#!/usr/bin/env bash
# Lays out the sample client installation that the sample update (samples/update) applies to:
#   sample-client.sh DIR WIN32-BUILD NATIVE-BUILD [WINDOWS-PATH]
# DIR receives the files of samples/client (dated 2000, so the update's files are newer), the
# program file ZOVE.EXE (also as the remover RM_QEL.EXE) and the client's unzip library from
# the Win32 build, and IDB\MAIN.IDX,
# made by qeldb, whose version record names build 3010 (major 0xC2, minor 0x0B), a build the
# sample update accepts. With WINDOWS-PATH (DIR as the prefix names it), that directory is
# recorded as "AppPath" under HKLM\SOFTWARE\Qelmora\QEL\CurrentVersion; the caller's
# WINEPREFIX and wine are used for it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1 build=$2 native=$3 windows_path=${4:-}
qeldb=$native/tools/qeldb/qeldb

mkdir -p "$dir"
cp -r "$root/samples/client/." "$dir/"
cp "$build/tools/peers/sample_client/ZOVE.EXE" "$dir/ZOVE.EXE"
# The client's remover, named by the uninstall entry: the placeholder program stands in for it.
cp "$build/tools/peers/sample_client/ZOVE.EXE" "$dir/RM_QEL.EXE"
cp "$build/libs/dunzipnt/dunzipnt.dll" "$dir/dunzipnt.dll"
mkdir -p "$dir/IDB"
rm -f "$dir/IDB/MAIN.IDX"
"$qeldb" create "$dir/IDB/MAIN.IDX" --id 0x01000401 >/dev/null
"$qeldb" put "$dir/IDB/MAIN.IDX" 0x14000006 --hex 00C20B >/dev/null
"$qeldb" put "$dir/IDB/MAIN.IDX" 0x01000010 --text "Qelmora 3.0.1" --kind t >/dev/null
find "$dir" -exec touch -d '2000-06-01 12:00:00' {} +

if [ -n "$windows_path" ]; then
  wine reg add 'HKLM\SOFTWARE\Qelmora\QEL\CurrentVersion' /v AppPath /t REG_SZ /d "$windows_path" /f >/dev/null 2>&1
fi
