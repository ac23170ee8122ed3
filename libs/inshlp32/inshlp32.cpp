// inshlp32.dll - the restart library of the Qelmora client.
//
// SETUP.EXE loads it from the installed client's folder when a run has finished and calls, if
// present, do_not_reboot(1), then install_qelmac(frame window), then check_reboot_flag(); the last
// non-zero answer makes it offer a restart of Windows. All three are cdecl and return int.
// The library never restarts Windows itself and never shows a window.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HINSTANCE g_self;

constexpr char kHelperName[] = "qelmac.dll";
constexpr char kRenameSection[] = "rename";
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenames[] = "PendingFileRenameOperations";

DWORD platform() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) ? info.dwPlatformId : VER_PLATFORM_WIN32s;
}

// "dir\name" into out[MAX_PATH]; false when it does not fit.
bool join(char* out, const char* dir, const char* name) {
  size_t length = std::strlen(dir);
  const char* slash = (length > 0 && dir[length - 1] == '\\') ? "" : "\\";
  int written = std::snprintf(out, MAX_PATH, "%s%s%s", dir, slash, name);
  return written > 0 && written < MAX_PATH;
}

bool windows_file(char* out, const char* name) {
  char dir[MAX_PATH];
  UINT length = GetWindowsDirectoryA(dir, MAX_PATH);
  return length > 0 && length < MAX_PATH && join(out, dir, name);
}

bool wininit_path(char* out) { return windows_file(out, "WININIT.INI"); }

// A file named `name` in the folder this library was loaded from.
bool beside_self(char* out, const char* name) {
  char module[MAX_PATH];
  DWORD length = GetModuleFileNameA(g_self, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  char* last = std::strrchr(module, '\\');
  if (!last) return false;
  last[1] = '\0';
  return join(out, module, name);
}

bool find_file(const char* path, WIN32_FIND_DATAA* data) {
  HANDLE found = FindFirstFileA(path, data);
  if (found == INVALID_HANDLE_VALUE) return false;
  FindClose(found);
  return true;
}

bool is_directory(const WIN32_FIND_DATAA& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Windows 95 family: WININIT.INI's [rename] section holds at least one "destination=source" line.
bool wininit_renames_pending() {
  char path[MAX_PATH];
  if (!wininit_path(path)) return false;
  static char section[32768];  // the profile functions' own limit on the 95 family
  DWORD length = GetPrivateProfileSectionA(kRenameSection, section, sizeof section, path);
  for (const char* line = section; line < section + length && *line; line += std::strlen(line) + 1) {
    if (*line != ';' && std::strchr(line, '=')) return true;
  }
  return false;
}

// NT: Session Manager's PendingFileRenameOperations is present and holds at least one character.
bool session_manager_renames_pending() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  bool pending = false;
  DWORD size = 0;
  if (RegQueryValueExA(key, kPendingRenames, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    BYTE* data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (data) {
      LONG result = RegQueryValueExA(key, kPendingRenames, nullptr, nullptr, data, &size);
      if (result == ERROR_MORE_DATA) {
        pending = true;  // it grew between the two looks: not empty
      } else if (result == ERROR_SUCCESS) {
        for (DWORD i = 0; i < size && !pending; ++i) pending = data[i] != 0;
      }
      HeapFree(GetProcessHeap(), 0, data);
    }
  }
  RegCloseKey(key);
  return pending;
}

// Errors that mean "the installed helper is held open (loaded) right now".
bool in_use(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE;
}

enum class Replaced { now, in_use, failed };

// Puts the new copy `temp` in place of `target` at once.
Replaced replace_now(const char* temp, const char* target, bool target_exists, bool nt) {
  if (nt) {
    if (MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING)) return Replaced::now;
    return in_use(GetLastError()) ? Replaced::in_use : Replaced::failed;
  }
  // The 95 family's MoveFile never replaces: the old copy goes first.
  if (target_exists && !DeleteFileA(target)) {
    return in_use(GetLastError()) ? Replaced::in_use : Replaced::failed;
  }
  if (MoveFileA(temp, target)) return Replaced::now;
  // The old copy is gone but the new one would not move: WININIT.INI finishes it at the next start.
  return target_exists ? Replaced::in_use : Replaced::failed;
}

// A temporary copy this library made earlier: "<system>\QEL*.TMP".
bool is_own_temp(const char* path, const char* short_system_dir) {
  size_t dir_length = std::strlen(short_system_dir);
  if (std::strlen(path) <= dir_length + 1 || _strnicmp(path, short_system_dir, dir_length) != 0 ||
      path[dir_length] != '\\') {
    return false;
  }
  const char* name = path + dir_length + 1;
  size_t name_length = std::strlen(name);
  return !std::strchr(name, '\\') && name_length > 7 && _strnicmp(name, "qel", 3) == 0 &&
         _stricmp(name + name_length - 4, ".tmp") == 0;
}

// The 95 family: "<system>\QELMAC.DLL=<system>\QELxxxx.TMP" in WININIT.INI's [rename], short names,
// replacing (and deleting the file of) an earlier entry of ours for the same helper.
bool schedule_wininit(const char* temp, const char* system_dir) {
  char short_system[MAX_PATH], short_temp[MAX_PATH], target[MAX_PATH], wininit[MAX_PATH];
  DWORD length = GetShortPathNameA(system_dir, short_system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  length = GetShortPathNameA(temp, short_temp, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  if (!join(target, short_system, kHelperName) || !wininit_path(wininit)) return false;

  char previous[MAX_PATH];
  if (GetPrivateProfileStringA(kRenameSection, target, "", previous, MAX_PATH, wininit) > 0 &&
      _stricmp(previous, short_temp) != 0 && is_own_temp(previous, short_system)) {
    DeleteFileA(previous);
  }
  return WritePrivateProfileStringA(kRenameSection, target, short_temp, wininit) != FALSE;
}

}  // namespace

extern "C" {

// The caller tells that it will not restart Windows on its own. The library keeps no state and
// never restarts anything, so there is nothing to change: the answer is always 0, "no restart
// needed because of this call", whatever the flag.
int __cdecl do_not_reboot(int flag) {
  (void)flag;
  return 0;
}

// Installs the QELMAC helper: qelmac.dll beside this library replaces a missing or older (last
// write time) copy in the Windows system folder. The new copy is written under a temporary name
// in the system folder first and then renamed, so a failed copy leaves the installed one intact.
// When the installed copy is in use, the rename is left to the next start of Windows (WININIT.INI
// on the 95 family, MoveFileEx on NT) and the answer is 1; otherwise 0 - also when there is
// nothing to install or the copy failed. The owner window is not used: no message is shown.
int __cdecl install_qelmac(int owner_window) {
  (void)owner_window;
  char source[MAX_PATH], system_dir[MAX_PATH], target[MAX_PATH], temp[MAX_PATH];
  WIN32_FIND_DATAA new_copy, installed;
  if (!beside_self(source, kHelperName) || !find_file(source, &new_copy) || is_directory(new_copy)) {
    return 0;
  }
  UINT length = GetSystemDirectoryA(system_dir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !join(target, system_dir, kHelperName)) return 0;
  bool target_exists = find_file(target, &installed);
  if (target_exists && (is_directory(installed) ||
                        CompareFileTime(&new_copy.ftLastWriteTime, &installed.ftLastWriteTime) <= 0)) {
    return 0;  // current already (this also covers source and target being the same file)
  }

  if (!GetTempFileNameA(system_dir, "qel", 0, temp)) return 0;
  if (!CopyFileA(source, temp, FALSE)) {
    DeleteFileA(temp);
    return 0;
  }
  bool nt = platform() == VER_PLATFORM_WIN32_NT;
  switch (replace_now(temp, target, target_exists, nt)) {
    case Replaced::now:
      return 0;
    case Replaced::in_use:
      if (nt ? MoveFileExA(temp, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE
             : schedule_wininit(temp, system_dir)) {
        return 1;
      }
      break;
    case Replaced::failed:
      break;
  }
  DeleteFileA(temp);
  return 0;
}

// 1 when file replacements wait for the next start of Windows - by anyone, not only by this
// library - else 0.
int __cdecl check_reboot_flag(void) {
  switch (platform()) {
    case VER_PLATFORM_WIN32_WINDOWS:
      return wininit_renames_pending() ? 1 : 0;
    case VER_PLATFORM_WIN32_NT:
      return session_manager_renames_pending() ? 1 : 0;
    default:
      return 0;
  }
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
