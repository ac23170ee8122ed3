// Test builds of the restart library (inshlp32.dll) for SETUP.EXE's tests. One source, built once
// per set of exports (see CMakeLists.txt): PROBE_DO_NOT_REBOOT, PROBE_INSTALL_QELMAC and
// PROBE_CHECK_REBOOT_FLAG each add one export.
//
// Each export appends one line to probe.log in the DLL's own folder - "<export> <argument>" with
// the argument in decimal, or "<export>" alone for check_reboot_flag; lines end in CR LF - and
// returns the verdict that probe.ini in the same folder gives under [verdicts], key = export name,
// written in decimal, 0x hexadecimal or negative; a missing key or file means 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HINSTANCE g_self;

bool beside_self(char* out, const char* name) {
  char module[MAX_PATH];
  DWORD length = GetModuleFileNameA(g_self, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  char* last = std::strrchr(module, '\\');
  if (!last) return false;
  last[1] = '\0';
  int written = std::snprintf(out, MAX_PATH, "%s%s", module, name);
  return written > 0 && written < MAX_PATH;
}

void log_call(const char* line) {
  char path[MAX_PATH];
  if (!beside_self(path, "probe.log")) return;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  CloseHandle(file);
}

int verdict(const char* name) {
  char path[MAX_PATH], text[64];
  if (!beside_self(path, "probe.ini")) return 0;
  GetPrivateProfileStringA("verdicts", name, "", text, sizeof text, path);
  return text[0] ? static_cast<int>(std::strtoll(text, nullptr, 0)) : 0;
}

[[maybe_unused]] int answer(const char* name, const int* argument) {
  char line[128];
  if (argument) {
    std::snprintf(line, sizeof line, "%s %d\r\n", name, *argument);
  } else {
    std::snprintf(line, sizeof line, "%s\r\n", name);
  }
  log_call(line);
  return verdict(name);
}

}  // namespace

extern "C" {
#ifdef PROBE_DO_NOT_REBOOT
__declspec(dllexport) int __cdecl do_not_reboot(int flag) { return answer("do_not_reboot", &flag); }
#endif
#ifdef PROBE_INSTALL_QELMAC
__declspec(dllexport) int __cdecl install_qelmac(int owner_window) {
  return answer("install_qelmac", &owner_window);
}
#endif
#ifdef PROBE_CHECK_REBOOT_FLAG
__declspec(dllexport) int __cdecl check_reboot_flag(void) { return answer("check_reboot_flag", nullptr); }
#endif
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}
