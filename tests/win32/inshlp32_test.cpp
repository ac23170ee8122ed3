// The restart library inshlp32.dll (libs/inshlp32) and its test builds (tools/peers/restart_probe).
// The DLLs are reached through drive E:, which the test prefix maps to the build tree (then they
// are in E:\testbin\) or to the build's testbin/ itself.
// The Windows NT behaviour runs in a child of this program that Wine starts with the Windows XP
// version (UnderWine.NtFamilyInChildProcess); every other test expects the prefix's Windows 98.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Export0 = int(__cdecl*)();
using Export1 = int(__cdecl*)(int);

const std::string kDlls =
    GetFileAttributesA("E:\\testbin") != INVALID_FILE_ATTRIBUTES ? "E:\\testbin\\" : "E:\\";
constexpr char kChildVariable[] = "QEL_INSHLP32_NT_CHILD";
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPending[] = "PendingFileRenameOperations";

std::string join(const std::string& dir, const std::string& name) {
  return dir.back() == '\\' ? dir + name : dir + "\\" + name;
}

std::string windows_path(UINT(WINAPI* get)(LPSTR, UINT)) {
  char buffer[MAX_PATH];
  UINT length = get(buffer, MAX_PATH);
  return std::string(buffer, length < MAX_PATH ? length : 0);
}
std::string windows_dir() { return windows_path(GetWindowsDirectoryA); }
std::string system_dir() { return windows_path(GetSystemDirectoryA); }
std::string wininit() { return join(windows_dir(), "WININIT.INI"); }
std::string installed_helper() { return join(system_dir(), "qelmac.dll"); }

DWORD platform() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) ? info.dwPlatformId : 0;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string read_file(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing " + path + ">";
  std::string content(GetFileSize(file, nullptr), '\0');
  DWORD got = 0;
  ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &got, nullptr);
  CloseHandle(file);
  content.resize(got);
  return content;
}

void write_file(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, content.size()) << path;
}

// Sets a file's last write time `days` away from one fixed moment.
void date_file(const std::string& path, int days) {
  ULARGE_INTEGER when;
  when.QuadPart = 133000000000000000ULL + static_cast<ULONGLONG>(static_cast<LONGLONG>(days) * 864000000000LL);
  FILETIME time{when.LowPart, when.HighPart};
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
  CloseHandle(file);
}

void write_file_dated(const std::string& path, const std::string& content, int days) {
  write_file(path, content);
  date_file(path, days);
}

std::vector<std::string> files_matching(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE found = FindFirstFileA(pattern.c_str(), &data);
  if (found == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileA(found, &data));
  FindClose(found);
  return names;
}

// "key=value" lines of WININIT.INI's [rename].
std::vector<std::string> rename_entries() {
  std::vector<char> section(32768);
  DWORD length = GetPrivateProfileSectionA("rename", section.data(), section.size(), wininit().c_str());
  std::vector<std::string> lines;
  for (const char* line = section.data(); line < section.data() + length && *line; line += lines.back().size() + 1) {
    lines.push_back(line);
  }
  return lines;
}

// A file's content, or its absence, put back when the test ends.
class SavedFile {
 public:
  explicit SavedFile(std::string path) : path_(std::move(path)), existed_(exists(path_)) {
    if (existed_) content_ = read_file(path_);
  }
  ~SavedFile() {
    if (existed_) {
      write_file(path_, content_);
    } else {
      DeleteFileA(path_.c_str());
    }
  }

 private:
  std::string path_;
  bool existed_;
  std::string content_;
};

// Session Manager's PendingFileRenameOperations, put back when the test ends.
class SavedPendingRenames {
 public:
  SavedPendingRenames() {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    DWORD size = 0;
    existed_ = RegQueryValueExA(key_, kPending, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS;
    data_.resize(size);
    if (existed_) RegQueryValueExA(key_, kPending, nullptr, &type_, data_.data(), &size);
  }
  ~SavedPendingRenames() {
    if (existed_) {
      RegSetValueExA(key_, kPending, 0, type_, data_.data(), data_.size());
    } else {
      RegDeleteValueA(key_, kPending);
    }
    RegCloseKey(key_);
  }
  void set(const std::string& multi_sz) {
    RegSetValueExA(key_, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi_sz.data()), multi_sz.size());
  }
  void remove() { RegDeleteValueA(key_, kPending); }
  std::string value() const {
    char buffer[4096];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key_, kPending, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
      return {};
    }
    return std::string(buffer, size);
  }

 private:
  HKEY key_ = nullptr;
  bool existed_ = false;
  DWORD type_ = REG_MULTI_SZ;
  std::vector<BYTE> data_;
};

class Library {
 public:
  explicit Library(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
  ~Library() {
    if (module_) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool loaded() const { return module_ != nullptr; }
  template <class F>
  F get(const char* name) const {
    return reinterpret_cast<F>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

// The installed helper is an older DLL, loaded, so Windows keeps its file.
std::unique_ptr<Library> load_older_installed_helper() {
  CopyFileA((kDlls + "restart_none.dll").c_str(), installed_helper().c_str(), FALSE);
  date_file(installed_helper(), -1);
  return std::make_unique<Library>(installed_helper());
}

// A fresh folder under the temporary folder, emptied and removed when the test ends.
class Folder {
 public:
  Folder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = join(temp, "qel-inshlp32-" + std::to_string(GetCurrentProcessId()));
    clear();
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~Folder() { clear(); }
  std::string operator/(const std::string& name) const { return join(path_, name); }

 private:
  void clear() {
    for (const std::string& name : files_matching(join(path_, "*"))) DeleteFileA(join(path_, name).c_str());
    RemoveDirectoryA((join(path_, "qelmac.dll")).c_str());
    RemoveDirectoryA(path_.c_str());
  }
  std::string path_;
};

// The real library, copied from E: as <folder>\inshlp32.dll, with WININIT.INI, the installed
// helper and the temporary copies in the system folder as they were before the test.
class RestartLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileA(wininit().c_str());
    DeleteFileA(installed_helper().c_str());
    ASSERT_TRUE(CopyFileA((kDlls + "inshlp32.dll").c_str(), (folder_ / "inshlp32.dll").c_str(), FALSE))
        << "drive E: must map to the build tree or its testbin/";
    library_ = std::make_unique<Library>(folder_ / "inshlp32.dll");
    ASSERT_TRUE(library_->loaded());
    do_not_reboot_ = library_->get<Export1>("do_not_reboot");
    install_qelmac_ = library_->get<Export1>("install_qelmac");
    check_reboot_flag_ = library_->get<Export0>("check_reboot_flag");
    ASSERT_TRUE(do_not_reboot_ && install_qelmac_ && check_reboot_flag_);
  }
  void TearDown() override {
    library_.reset();
    for (const std::string& name : new_temps()) DeleteFileA(join(system_dir(), name).c_str());
  }
  std::vector<std::string> new_temps() const {
    std::vector<std::string> found;
    for (const std::string& name : files_matching(join(system_dir(), "qel*.tmp"))) {
      bool earlier = false;
      for (const std::string& before : temps_before_) earlier = earlier || before == name;
      if (!earlier) found.push_back(name);
    }
    return found;
  }

  Folder folder_;
  SavedFile saved_wininit_{wininit()};
  SavedFile saved_helper_{installed_helper()};
  std::vector<std::string> temps_before_ = files_matching(join(system_dir(), "qel*.tmp"));
  std::unique_ptr<Library> library_;
  Export1 do_not_reboot_ = nullptr;
  Export1 install_qelmac_ = nullptr;
  Export0 check_reboot_flag_ = nullptr;
};

class OnWindows98 : public RestartLibrary {
 protected:
  void SetUp() override {
    if (platform() != VER_PLATFORM_WIN32_WINDOWS) GTEST_SKIP() << "the 95 family's behaviour";
    RestartLibrary::SetUp();
  }
};

class OnWindowsNt : public RestartLibrary {
 protected:
  void SetUp() override {
    if (platform() != VER_PLATFORM_WIN32_NT) {
      if (std::getenv(kChildVariable)) FAIL() << "the child was not started as Windows NT";
      GTEST_SKIP() << "runs in UnderWine.NtFamilyInChildProcess";
    }
    RestartLibrary::SetUp();
  }
  SavedPendingRenames pending_;
};

TEST_F(OnWindows98, CheckRebootFlagFollowsWininitRenameSection) {
  EXPECT_EQ(check_reboot_flag_(), 0) << "no WININIT.INI";
  write_file(wininit(), "[rename]\r\n; comment\r\nno entry\r\n\r\n[other]\r\nNUL=C:\\WINDOWS\\OLD.TMP\r\n");
  EXPECT_EQ(check_reboot_flag_(), 0) << "no destination=source line in [rename]";
  write_file(wininit(), "[Rename]\r\nNUL=C:\\WINDOWS\\OLD.TMP\r\n");
  EXPECT_EQ(check_reboot_flag_(), 1);
  WritePrivateProfileStringA("rename", nullptr, nullptr, wininit().c_str());
  EXPECT_EQ(check_reboot_flag_(), 0) << "section removed";
}

TEST_F(OnWindows98, InstallQelmacWithoutNewCopyInstallsNothing) {
  EXPECT_EQ(install_qelmac_(0), 0);
  ASSERT_TRUE(CreateDirectoryA((folder_ / "qelmac.dll").c_str(), nullptr));
  EXPECT_EQ(install_qelmac_(0), 0) << "a folder named qelmac.dll";
  EXPECT_FALSE(exists(installed_helper()));
  EXPECT_TRUE(new_temps().empty());
}

TEST_F(OnWindows98, InstallQelmacCopiesMissingOrOlderAndKeepsNewer) {
  write_file_dated(folder_ / "qelmac.dll", "helper 2", 0);
  EXPECT_EQ(install_qelmac_(0x1234), 0);
  EXPECT_EQ(read_file(installed_helper()), "helper 2") << "missing";
  EXPECT_TRUE(new_temps().empty()) << "temporary copy left behind";
  EXPECT_EQ(install_qelmac_(0), 0);
  EXPECT_EQ(read_file(installed_helper()), "helper 2") << "same age";

  write_file_dated(installed_helper(), "helper 3", 1);
  EXPECT_EQ(install_qelmac_(0), 0);
  EXPECT_EQ(read_file(installed_helper()), "helper 3") << "newer one replaced";

  write_file_dated(installed_helper(), "helper 1", -1);
  EXPECT_EQ(install_qelmac_(0), 0);
  EXPECT_EQ(read_file(installed_helper()), "helper 2") << "older one kept";
  EXPECT_EQ(check_reboot_flag_(), 0);
  EXPECT_FALSE(exists(wininit()));
}

TEST_F(OnWindows98, InstallQelmacInUseWaitsForRestartInWininit) {
  auto loaded = load_older_installed_helper();
  ASSERT_TRUE(loaded->loaded());
  char short_system[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(system_dir().c_str(), short_system, MAX_PATH), 0u);
  const std::string key = join(short_system, "qelmac.dll");
  // Entries made by others: one for another file, one for the helper with a file not ours.
  write_file(folder_ / "foreign.tmp", "foreign");
  write_file(wininit(), "[rename]\r\nNUL=C:\\WINDOWS\\OLD.TMP\r\n" + key + "=" + (folder_ / "foreign.tmp") + "\r\n");
  write_file_dated(folder_ / "qelmac.dll", "helper 2", 0);
  EXPECT_EQ(install_qelmac_(0), 1);
  EXPECT_EQ(read_file(installed_helper()), read_file(kDlls + "restart_none.dll"));

  std::vector<std::string> entries = rename_entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "NUL=C:\\WINDOWS\\OLD.TMP");
  ASSERT_EQ(_strnicmp(entries[1].c_str(), (key + "=").c_str(), key.size() + 1), 0) << entries[1];
  std::string first_temp = entries[1].substr(key.size() + 1);
  EXPECT_EQ(_strnicmp(first_temp.c_str(), short_system, std::strlen(short_system)), 0) << first_temp;
  EXPECT_EQ(read_file(first_temp), "helper 2");
  EXPECT_TRUE(exists(folder_ / "foreign.tmp")) << "a file not made here is left alone";
  EXPECT_EQ(check_reboot_flag_(), 1);

  // Newer still before the restart: the entry names the newest copy; the earlier copy is gone.
  write_file_dated(folder_ / "qelmac.dll", "helper 3", 1);
  EXPECT_EQ(install_qelmac_(0), 1);
  entries = rename_entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(read_file(entries[1].substr(key.size() + 1)), "helper 3");
  EXPECT_FALSE(exists(first_temp));
  EXPECT_EQ(new_temps().size(), 1u);
}

TEST_F(OnWindows98, DoNotRebootAnswersZeroAndChangesNothing) {
  write_file_dated(folder_ / "qelmac.dll", "helper 2", 0);
  for (int flag : {0, 1, -1, INT_MAX}) EXPECT_EQ(do_not_reboot_(flag), 0) << flag;
  EXPECT_FALSE(exists(installed_helper()));
  EXPECT_FALSE(exists(wininit()));
}

TEST_F(OnWindowsNt, CheckRebootFlagFollowsPendingFileRenameOperations) {
  pending_.remove();
  EXPECT_EQ(check_reboot_flag_(), 0) << "no value";
  pending_.set(std::string("\0\0", 2));
  EXPECT_EQ(check_reboot_flag_(), 0) << "empty list";
  pending_.set("\\??\\C:\\windows\\old.tmp" + std::string(2, '\0'));
  EXPECT_EQ(check_reboot_flag_(), 1);
  write_file(wininit(), "[rename]\r\nNUL=C:\\WINDOWS\\OLD.TMP\r\n");
  pending_.remove();
  EXPECT_EQ(check_reboot_flag_(), 0) << "WININIT.INI means nothing to NT";
}

TEST_F(OnWindowsNt, InstallQelmacCopiesOrWaitsForRestartInSessionManager) {
  pending_.remove();
  write_file_dated(folder_ / "qelmac.dll", "helper 2", 0);
  EXPECT_EQ(install_qelmac_(0), 0);
  EXPECT_EQ(read_file(installed_helper()), "helper 2");
  EXPECT_TRUE(new_temps().empty());
  EXPECT_EQ(check_reboot_flag_(), 0);

  auto loaded = load_older_installed_helper();
  ASSERT_TRUE(loaded->loaded());
  write_file_dated(folder_ / "qelmac.dll", "helper 3", 1);
  EXPECT_EQ(install_qelmac_(0), 1);
  EXPECT_EQ(read_file(installed_helper()), read_file(kDlls + "restart_none.dll"));
  std::vector<std::string> temps = new_temps();
  ASSERT_EQ(temps.size(), 1u);
  EXPECT_EQ(read_file(join(system_dir(), temps[0])), "helper 3");
  std::string pending = pending_.value();
  EXPECT_NE(pending.find(temps[0]), std::string::npos) << pending;
  EXPECT_NE(pending.find("qelmac.dll"), std::string::npos) << pending;
  EXPECT_EQ(check_reboot_flag_(), 1);
  EXPECT_FALSE(exists(wininit()));
}

// Wine takes a program's Windows version from AppDefaults\<exe name>; the child runs only the
// OnWindowsNt tests and fails them if it is not NT.
TEST(UnderWine, NtFamilyInChildProcess) {
  char module[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, module, MAX_PATH), 0u);
  // Wine names a file outside every drive "unix\..."; it opens it as "\\?\unix\...".
  std::string self = _strnicmp(module, "unix\\", 5) == 0 ? std::string("\\\\?\\") + module : module;
  std::string app_key = std::string("Software\\Wine\\AppDefaults\\") + (std::strrchr(module, '\\') + 1);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, app_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("winxp"), 6);
  RegCloseKey(key);
  SetEnvironmentVariableA(kChildVariable, "1");

  std::string command = "\"" + self + "\" --gtest_filter=OnWindowsNt.*";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(self.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                windows_dir().c_str(), &startup, &process);
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
  const char* const names[] = {"do_not_reboot", "install_qelmac", "check_reboot_flag"};
  for (std::string probe : {"none", "do_not_reboot", "install_qelmac", "check_reboot_flag", "all"}) {
    Library library(kDlls + "restart_" + probe + ".dll");
    ASSERT_TRUE(library.loaded()) << probe;
    for (const char* name : names) {
      bool expected = probe == "all" || probe == name;
      EXPECT_EQ(library.get<FARPROC>(name) != nullptr, expected) << probe << " / " << name;
    }
  }
}

TEST(RestartProbe, LogsCallsBesideItselfAndAnswersConfiguredVerdicts) {
  Folder folder;
  ASSERT_TRUE(CopyFileA((kDlls + "restart_all.dll").c_str(), (folder / "inshlp32.dll").c_str(), FALSE));
  Library library(folder / "inshlp32.dll");
  ASSERT_TRUE(library.loaded());
  auto do_not_reboot = library.get<Export1>("do_not_reboot");
  auto install_qelmac = library.get<Export1>("install_qelmac");
  auto check_reboot_flag = library.get<Export0>("check_reboot_flag");
  ASSERT_TRUE(do_not_reboot && install_qelmac && check_reboot_flag);

  EXPECT_EQ(do_not_reboot(1), 0) << "no probe.ini";
  std::string ini = folder / "probe.ini";
  write_file(ini, "[verdicts]\r\ndo_not_reboot=5\r\ninstall_qelmac=-1\r\n[other]\r\ncheck_reboot_flag=9\r\n");
  EXPECT_EQ(do_not_reboot(0), 5);
  EXPECT_EQ(install_qelmac(0x1234), -1);
  EXPECT_EQ(install_qelmac(-7), -1);
  EXPECT_EQ(check_reboot_flag(), 0) << "key only in another section";
  WritePrivateProfileStringA("verdicts", "check_reboot_flag", "0x7FFFFFFF", ini.c_str());
  EXPECT_EQ(check_reboot_flag(), 0x7FFFFFFF);
  EXPECT_EQ(read_file(folder / "probe.log"),
            "do_not_reboot 1\r\ndo_not_reboot 0\r\ninstall_qelmac 4660\r\ninstall_qelmac -7\r\n"
            "check_reboot_flag\r\ncheck_reboot_flag\r\n");
}

}  // namespace
