// The restart library inshlp32.dll (libs/inshlp32) and its test builds (tools/peers/restart_probe),
// reached through drive E: (the build tree, then in E:\testbin\, or the build's testbin/ itself).
// This program runs as the prefix's Windows 98; UnderWine.NtFamilyInChildProcess runs the
// RestartLibrary tests again in a child that Wine starts as Windows XP.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using Export0 = int(__cdecl*)();
using Export1 = int(__cdecl*)(int);
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

const std::string kDlls = GetFileAttributesA("E:\\testbin") != INVALID_FILE_ATTRIBUTES ? "E:\\testbin\\" : "E:\\";
constexpr char kChildVariable[] = "QEL_INSHLP32_NT_CHILD";
constexpr char kPending[] = "PendingFileRenameOperations";

Library load(const std::string& path) { return Library(LoadLibraryA(path.c_str()), &FreeLibrary); }
template <class F>
F get(const Library& library, const char* name) {
  return reinterpret_cast<F>(GetProcAddress(library.get(), name));
}

std::string folder_of(UINT(WINAPI* get)(LPSTR, UINT)) {  // with its trailing backslash
  char buffer[MAX_PATH];
  const std::string dir(buffer, get(buffer, MAX_PATH) < MAX_PATH ? std::strlen(buffer) : 0);
  return dir.empty() || dir.back() == '\\' ? dir : dir + "\\";
}
std::string system_dir() { return folder_of(GetSystemDirectoryA); }
std::string wininit() { return folder_of(GetWindowsDirectoryA) + "WININIT.INI"; }
std::string helper() { return system_dir() + "qelmac.dll"; }

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing " + path + ">";
}
void write_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}
void write_dated(const std::string& path, const std::string& content, int days) {  // days from one fixed moment
  write_file(path, content);
  ULARGE_INTEGER when;
  when.QuadPart = 133000000000000000ULL + static_cast<ULONGLONG>(static_cast<LONGLONG>(days) * 864000000000LL);
  const FILETIME time{when.LowPart, when.HighPart};
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time)) << path;
  CloseHandle(file);
}

std::set<std::string> temps() {  // the library's temporary copies in the system folder
  std::set<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE found = FindFirstFileA((system_dir() + "qel*.tmp").c_str(), &data);
  for (bool more = found != INVALID_HANDLE_VALUE; more; more = FindNextFileA(found, &data))
    names.insert(data.cFileName);
  if (found != INVALID_HANDLE_VALUE) FindClose(found);
  return names;
}

std::vector<std::string> rename_entries() {  // "key=value" lines of WININIT.INI's [rename]
  static char section[32768];
  const DWORD length = GetPrivateProfileSectionA("rename", section, sizeof section, wininit().c_str());
  std::vector<std::string> lines;
  for (const char* line = section; line < section + length && *line; line += std::strlen(line) + 1)
    lines.push_back(line);
  return lines;
}

// Session Manager's PendingFileRenameOperations: read (false when missing), set, or removed (null).
const HKEY session_manager = [] {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}();
bool pending(std::string& value) {
  char buffer[4096];
  DWORD size = sizeof buffer;
  const bool found =
      !RegQueryValueExA(session_manager, kPending, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  value.assign(buffer, found ? size : 0);
  return found;
}
void set_pending(const std::string* v) {
  if (!v) RegDeleteValueA(session_manager, kPending);
  else RegSetValueExA(session_manager, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(v->data()), v->size());
}

// A file's content, or its absence, put back when the test ends.
struct SavedFile {
  std::string path;
  bool existed = exists(path);
  std::string content = existed ? read_file(path) : "";
  ~SavedFile() { existed ? write_file(path, content) : void(DeleteFileA(path.c_str())); }
};

// A scratch folder for a library and the files beside it.
struct Folder {
  std::string path;
  Folder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path = temp + ("qel-inshlp32-" + std::to_string(GetCurrentProcessId()) + "\\");
    CreateDirectoryA(path.c_str(), nullptr);
  }
  ~Folder() {
    for (const char* name : {"inshlp32.dll", "qelmac.dll", "foreign.tmp", "probe.ini", "probe.log"})
      DeleteFileA((path + name).c_str());
    RemoveDirectoryA(path.c_str());
  }
  std::string operator/(const char* name) const { return path + name; }
};

// The real library as <folder>\inshlp32.dll, with no WININIT.INI, installed helper or pending
// renames; those, and the temporary copies, are as they were afterwards.
class RestartLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nt || !std::getenv(kChildVariable)) << "the child was not started as Windows NT";
    DeleteFileA(wininit().c_str());
    DeleteFileA(helper().c_str());
    set_pending(nullptr);
    ASSERT_TRUE(CopyFileA((kDlls + "inshlp32.dll").c_str(), (folder / "inshlp32.dll").c_str(), FALSE))
        << "drive E: must map to the build tree or its testbin/";
    library = load(folder / "inshlp32.dll");
    do_not_reboot = get<Export1>(library, "do_not_reboot");
    install_qelmac = get<Export1>(library, "install_qelmac");
    check_reboot_flag = get<Export0>(library, "check_reboot_flag");
    ASSERT_TRUE(do_not_reboot && install_qelmac && check_reboot_flag);
  }
  void TearDown() override {
    library.reset();
    for (const std::string& name : new_temps()) DeleteFileA((system_dir() + name).c_str());
    set_pending(had_pending ? &saved_pending : nullptr);
  }
  std::vector<std::string> new_temps() const {
    std::vector<std::string> found;
    for (const std::string& name : temps())
      if (!temps_before.count(name)) found.push_back(name);
    return found;
  }
  // The installed helper is an older DLL, loaded, so Windows keeps its file.
  Library load_older_installed_helper() const {
    write_dated(helper(), read_file(kDlls + "restart_none.dll"), -1);
    return load(helper());
  }

  const bool nt = GetVersion() < 0x80000000u;
  Folder folder;
  SavedFile saved_wininit{wininit()}, saved_helper{helper()};
  std::string saved_pending;
  bool had_pending = pending(saved_pending);
  std::set<std::string> temps_before = temps();
  Library library{nullptr, &FreeLibrary};
  Export1 do_not_reboot = nullptr, install_qelmac = nullptr;
  Export0 check_reboot_flag = nullptr;
};

TEST_F(RestartLibrary, InstallQelmacReplacesAMissingOrOlderCopyOnly) {
  EXPECT_EQ(install_qelmac(0), 0);
  EXPECT_FALSE(exists(helper())) << "no qelmac.dll beside the library: nothing to install";
  write_dated(folder / "qelmac.dll", "helper 2", 0);
  const struct {
    const char* installed;  // nullptr: none
    int days;
    const char* after;
  } cases[] = {{nullptr, 0, "helper 2"}, {"helper 1", -1, "helper 2"}, {"same age", 0, "same age"},
               {"newer", 1, "newer"}};
  for (const auto& c : cases) {
    c.installed ? write_dated(helper(), c.installed, c.days) : void(DeleteFileA(helper().c_str()));
    EXPECT_EQ(install_qelmac(0x1234), 0);
    EXPECT_EQ(read_file(helper()), c.after);
    EXPECT_TRUE(new_temps().empty()) << "temporary copy left behind";
  }
  EXPECT_EQ(check_reboot_flag(), 0);
}

TEST_F(RestartLibrary, DoNotRebootAnswersZeroAndChangesNothing) {
  write_dated(folder / "qelmac.dll", "helper 2", 0);
  for (int flag : {0, 1, -1, INT_MAX}) EXPECT_EQ(do_not_reboot(flag), 0) << flag;
  EXPECT_FALSE(exists(helper()));
  EXPECT_FALSE(exists(wininit()));
}

TEST_F(RestartLibrary, CheckRebootFlagFollowsPendingRenames) {
  EXPECT_EQ(check_reboot_flag(), 0) << "nothing pending";
  if (nt) {
    const std::string empty(2, '\0'), one = "\\??\\C:\\windows\\old.tmp" + empty;
    set_pending(&empty);
    EXPECT_EQ(check_reboot_flag(), 0) << "empty list";
    set_pending(&one);
    EXPECT_EQ(check_reboot_flag(), 1);
    write_file(wininit(), "[rename]\r\nNUL=C:\\WINDOWS\\OLD.TMP\r\n");
    set_pending(nullptr);
    EXPECT_EQ(check_reboot_flag(), 0) << "WININIT.INI means nothing to NT";
  } else {
    write_file(wininit(), "[rename]\r\n; comment\r\nno entry\r\n\r\n[other]\r\nNUL=C:\\WINDOWS\\OLD.TMP\r\n");
    EXPECT_EQ(check_reboot_flag(), 0) << "no destination=source line in [rename]";
    write_file(wininit(), "[Rename]\r\nNUL=C:\\WINDOWS\\OLD.TMP\r\n");
    EXPECT_EQ(check_reboot_flag(), 1);
  }
}

TEST_F(RestartLibrary, InstallQelmacInUseWaitsForRestart) {
  const Library loaded = load_older_installed_helper();
  ASSERT_TRUE(loaded);
  char short_system[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(system_dir().c_str(), short_system, MAX_PATH), 0u);
  const std::string key = short_system + std::string("qelmac.dll=");  // short names for the 95 family
  // Entries of others: one for another file stays; one for the helper naming a file not ours is
  // replaced, and that file is left alone.
  write_file(folder / "foreign.tmp", "foreign");
  if (!nt) write_file(wininit(), "[rename]\r\nNUL=C:\\OLD.TMP\r\n" + key + folder / "foreign.tmp" + "\r\n");
  // A newer copy still before the restart replaces the first: the 95 family's entry names the
  // newest copy and the earlier one is deleted; NT keeps both moves, made in order.
  std::set<std::string> seen;
  for (int round = 2; round <= 3; ++round) {
    const std::string copy = "helper " + std::to_string(round);
    write_dated(folder / "qelmac.dll", copy, round);
    EXPECT_EQ(install_qelmac(0), 1);
    EXPECT_EQ(read_file(helper()), read_file(kDlls + "restart_none.dll")) << "the loaded copy stays until the restart";
    EXPECT_EQ(check_reboot_flag(), 1);
    std::vector<std::string> fresh;
    for (const std::string& name : new_temps())
      if (seen.insert(name).second) fresh.push_back(name);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(read_file(system_dir() + fresh[0]), copy);
    EXPECT_EQ(new_temps().size(), nt ? seen.size() : 1u);
    if (nt) {
      std::string value;
      pending(value);
      EXPECT_NE(value.find(fresh[0]), std::string::npos) << value;
      EXPECT_NE(value.find("qelmac.dll"), std::string::npos) << value;
    } else {
      const std::vector<std::string> entries = rename_entries();
      ASSERT_EQ(entries.size(), 2u);
      EXPECT_EQ(entries[0], "NUL=C:\\OLD.TMP");
      EXPECT_EQ(lstrcmpiA(entries[1].c_str(), (key + short_system + fresh[0]).c_str()), 0) << entries[1];
    }
  }
  EXPECT_TRUE(exists(folder / "foreign.tmp")) << "a file not made here is left alone";
  EXPECT_TRUE(!nt || !exists(wininit())) << "NT has no use for WININIT.INI";
}

// Wine takes a program's Windows version from AppDefaults\<exe name>.
TEST(UnderWine, NtFamilyInChildProcess) {
  char module[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, module, MAX_PATH), 0u);
  // Wine names a file outside every drive "unix\..."; it opens it as "\\?\unix\...".
  const std::string self = _strnicmp(module, "unix\\", 5) == 0 ? std::string("\\\\?\\") + module : module;
  const std::string app_key = std::string("Software\\Wine\\AppDefaults\\") + (std::strrchr(module, '\\') + 1);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, app_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("winxp"), 6);
  RegCloseKey(key);
  SetEnvironmentVariableA(kChildVariable, "1");
  std::string command = "\"" + self + "\" --gtest_filter=RestartLibrary.*";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(self.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      folder_of(GetWindowsDirectoryA).c_str(), &startup, &process);
  DWORD exit_code = 1;
  if (started) {
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  SetEnvironmentVariableA(kChildVariable, nullptr);
  RegDeleteKeyA(HKEY_CURRENT_USER, app_key.c_str());
  ASSERT_TRUE(started) << self << " error " << GetLastError();
  EXPECT_EQ(exit_code, 0u);
}

TEST(RestartProbe, ExportsExactlyWhatItsNameSays) {
  for (std::string probe : {"none", "do_not_reboot", "install_qelmac", "check_reboot_flag", "all"}) {
    const Library library = load(kDlls + "restart_" + probe + ".dll");
    ASSERT_TRUE(library) << probe;
    for (const char* name : {"do_not_reboot", "install_qelmac", "check_reboot_flag"})
      EXPECT_EQ(get<FARPROC>(library, name) != nullptr, probe == "all" || probe == name) << probe << " / " << name;
  }
}

TEST(RestartProbe, LogsCallsBesideItselfAndAnswersConfiguredVerdicts) {
  const Folder folder;
  ASSERT_TRUE(CopyFileA((kDlls + "restart_all.dll").c_str(), (folder / "inshlp32.dll").c_str(), FALSE));
  const Library library = load(folder / "inshlp32.dll");
  const auto do_not_reboot = get<Export1>(library, "do_not_reboot");
  const auto install_qelmac = get<Export1>(library, "install_qelmac");
  const auto check_reboot_flag = get<Export0>(library, "check_reboot_flag");
  ASSERT_TRUE(do_not_reboot && install_qelmac && check_reboot_flag);
  EXPECT_EQ(do_not_reboot(1), 0) << "no probe.ini";
  write_file(folder / "probe.ini",
             "[verdicts]\r\ndo_not_reboot=5\r\ninstall_qelmac=-1\r\n[other]\r\ncheck_reboot_flag=9\r\n");
  EXPECT_EQ(do_not_reboot(0), 5);
  EXPECT_EQ(install_qelmac(0x1234), -1);
  EXPECT_EQ(install_qelmac(-7), -1);
  EXPECT_EQ(check_reboot_flag(), 0) << "key only in another section";
  WritePrivateProfileStringA("verdicts", "check_reboot_flag", "0x7FFFFFFF", (folder / "probe.ini").c_str());
  EXPECT_EQ(check_reboot_flag(), 0x7FFFFFFF);
  EXPECT_EQ(read_file(folder / "probe.log"),
            "do_not_reboot 1\r\ndo_not_reboot 0\r\ninstall_qelmac 4660\r\ninstall_qelmac -7\r\n"
            "check_reboot_flag\r\ncheck_reboot_flag\r\n");
}

}  // namespace
