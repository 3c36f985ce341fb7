// Simulated processes, version resources and system message texts.
// Not simulated yet: every process call fails as on a machine that lists no
// process and has no version resources.
#include "state.h"

namespace sim {
namespace detail {
void ResetProcesses() {}
}  // namespace detail
}  // namespace sim

using namespace sim::detail;

HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid) {
  DWORD err = ERROR_INVALID_PARAMETER;
  Enter("OpenProcess", err, "0x%x,%d,%u", access, inherit, pid);
  S().last_error = ERROR_INVALID_PARAMETER;
  return nullptr;
}
BOOL TerminateProcess(HANDLE process, UINT exit_code) {
  DWORD err = ERROR_INVALID_HANDLE;
  Enter("TerminateProcess", err, "%p,%u", process, exit_code);
  S().last_error = ERROR_INVALID_HANDLE;
  return FALSE;
}
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments) {
  DWORD err = ERROR_INVALID_PARAMETER;
  Enter("FormatMessageA", err, "0x%x,%p,%u,0x%x,%u", flags, source, message_id, language_id, size);
  (void)buffer;
  (void)arguments;
  return 0;
}
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD pid) {
  DWORD err = ERROR_INVALID_PARAMETER;
  Enter("CreateToolhelp32Snapshot", err, "0x%x,%u", flags, pid);
  return INVALID_HANDLE_VALUE;
}
BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  DWORD err = ERROR_NO_MORE_ITEMS;
  Enter("Process32First", err, "%p,size=%u", snapshot, entry ? entry->dwSize : 0);
  return FALSE;
}
BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  DWORD err = ERROR_NO_MORE_ITEMS;
  Enter("Process32Next", err, "%p,size=%u", snapshot, entry ? entry->dwSize : 0);
  return FALSE;
}
BOOL EnumProcesses(DWORD* ids, DWORD bytes, LPDWORD filled) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("EnumProcesses", err, "bytes=%u", bytes)) return FALSE;
  (void)ids;
  *filled = 0;
  return TRUE;
}
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, LPDWORD needed) {
  DWORD err = ERROR_ACCESS_DENIED;
  Enter("EnumProcessModules", err, "%p,bytes=%u", process, bytes);
  (void)modules;
  (void)needed;
  return FALSE;
}
DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
  DWORD err = ERROR_ACCESS_DENIED;
  Enter("GetModuleFileNameExA", err, "%p,%p,size=%u", process, static_cast<void*>(module), size);
  (void)name;
  return 0;
}
INT VDMEnumTaskWOWEx(DWORD pid, TASKENUMPROCEX callback, LPARAM user) {
  DWORD err = 0;
  Enter("VDMEnumTaskWOWEx", err, "%u", pid);
  (void)callback;
  (void)user;
  return 0;
}
DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  DWORD err = 1812;
  Enter("GetFileVersionInfoSizeA", err, "%s", Str(path).c_str());
  (void)handle;
  return 0;
}
BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID data) {
  DWORD err = 1812;
  Enter("GetFileVersionInfoA", err, "%s,%u,%u", Str(path).c_str(), handle, size);
  (void)data;
  return FALSE;
}
BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, PUINT length) {
  DWORD err = 0;
  Enter("VerQueryValueA", err, "%p,%s", block, Str(sub_block).c_str());
  (void)buffer;
  (void)length;
  return FALSE;
}
