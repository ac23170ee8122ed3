# Sourced by the fault campaigns: the campaign's update package, a client to update, and the
# checker. The update is the sample's, grown to a size where a fault can land anywhere:
#   - 46 files replaced (among them the preserved QELPREFS.INI, the system member, the if-newer
#     member and the direct member UPDATE.TXT) and 12 added, some of them large;
#   - 2,000 records merged into MAIN.IDX's 1,200: 600 of them replace records, mostly by bodies
#     of another size.
# fresh_client DIR lays out the client before the update; state DIR FILE writes down its state.
source "$(dirname "$0")/../scenarios/lib.sh"
: "${QEL_NATIVE_DIR:?}"
qelpack=$QEL_NATIVE_DIR/tools/qelpack/qelpack
qeldb=$QEL_NATIVE_DIR/tools/qeldb/qeldb
fault_check=$QEL_NATIVE_DIR/tests/faults/fault_check
windows=$drive_c/windows
system_dir=$windows/system
drive_g=$QEL_WINE_DIR/drive_g  # G:, a 16 MiB tmpfs when the prefix could mount one
fault_drive_mounted() { [ -d "$drive_g" ] && mountpoint -q "$drive_g"; }

# Bytes drawn from a seed: the same file on every run.
seeded_bytes() { "$fault_check" bytes "$1" "$2"; }

build_fault_package() {
  local src=$work/src i size
  rm -rf "$src" "$work/client-extra"
  cp -r "$QEL_SOURCE_DIR/samples/update" "$src"
  sed -i '/^check_system/d' "$src/manifest.ini"
  mkdir -p "$src/payload/data" "$src/payload/data/new" "$work/client-extra/data"
  for i in $(seq -w 1 40); do
    # Every fourth file large enough for a kill to land inside its unpacking.
    size=$(( (10#$i % 4 == 0) ? 150000 + 10#$i * 1000 : 3000 + 10#$i * 97 ))
    seeded_bytes "1$i" "$size" >"$src/payload/data/file$i.dat"
    seeded_bytes "2$i" $((size / 2 + 500)) >"$work/client-extra/data/file$i.dat"
    echo "data\\file$i.dat = payload/data/file$i.dat" >>"$src/manifest.ini"
  done
  for i in $(seq -w 1 12); do
    seeded_bytes "3$i" $((2000 + 10#$i * 5000)) >"$src/payload/data/new/add$i.dat"
    echo "data\\new\\add$i.dat = payload/data/new/add$i.dat" >>"$src/manifest.ini"
  done
  # 2,000 records: 600 replace records of the client, 1,400 are new.
  "$fault_check" fill "$src/payload/idb/merge.db" 0x02000258 2000 2 >/dev/null
  mkdir -p "$work/DISK1"
  "$qelpack" build "$src/manifest.ini" -o "$work/DISK1/SETUP.EXE" --stub "$QEL_BUILD_DIR/src/SETUP.EXE" >/dev/null
}
setup_exe="$work_win\\DISK1\\SETUP.EXE"

# The client before the update, made once and then copied: the sample client with the older
# copies of the data files and 1,200 more records.
pristine=$work/pristine
make_pristine_client() {
  rm -rf "$pristine"
  bash "$QEL_SOURCE_DIR/scripts/sample-client.sh" "$pristine" "$QEL_BUILD_DIR" "$QEL_NATIVE_DIR"
  cp -r "$work/client-extra/." "$pristine/"
  "$fault_check" fill "$pristine/IDB/MAIN.IDX" 0x02000000 1200 1 >/dev/null
  find "$pristine" -exec touch -d '2000-06-01 12:00:00' {} +
  cp "$windows/win.ini" "$work/win.ini.before"
}

# fresh_client DIR: the client as before the update, and the Windows folder as before it.
fresh_client() {
  rm -rf "$1"
  cp -a "$pristine" "$1"
  find "$system_dir" "$windows" -maxdepth 1 \( -iname qelmac.dll -o -iname 'qel*.tmp' -o -iname qelwin.bak -o -iname vedurov.pif \) -delete
  rm -f "$drive_c/update.log"
  cp "$work/win.ini.before" "$windows/win.ini"
}

# state DIR FILE: what the package touches, as the checker sees it. The crash-mode log is not
# part of it.
state() {
  local system_file pif_file win_ini_copy
  system_file=$(find "$system_dir" -maxdepth 1 -iname qelmac.dll | head -n 1)
  pif_file=$(find "$windows" -maxdepth 1 -iname vedurov.pif | head -n 1)
  # The copy of WIN.INI kept while the run writes there: the next run puts it back.
  win_ini_copy=$(find "$windows" -maxdepth 1 -iname qelwin.bak | head -n 1)
  "$fault_check" state "client=$1" "system/qelmac.dll=${system_file:-/nonexistent}" \
    "windows/win.ini=$windows/win.ini" "windows/win.ini.kept=${win_ini_copy:-/nonexistent}" \
    "windows/vedurov.pif=${pif_file:-/nonexistent}" |
    grep -v '^F client/update.log ' >"$2"
}

restore_windows() {
  [ -f "$work/win.ini.before" ] && cp "$work/win.ini.before" "$windows/win.ini"
  rm -rf "$work/pristine" "$work"/QEL*  # client folders hold ZOVE.EXE, which a later search would find
}
