// Walks every running process on the 9x family (toolhelp) and on NT 4.0 and
// later (process-status library), handing each one with its executable path
// to a visitor; inside an NTVDM host it also visits each 16-bit task.
#pragma once

#include "platform/win.h"

// (process id, 16-bit task handle or 0, executable path, caller data).
// The path is owned by the walk and valid during the call only. Returning
// false ends the whole walk.
typedef bool (*ProcessVisitor)(DWORD pid, WORD task, const char* path, ULONG_PTR data);

// User data of the 16-bit task walk of one NTVDM host.
struct TaskWalkContext {
  DWORD pid;
  ProcessVisitor visitor;
  ULONG_PTR data;
  BOOL ended;  // the visitor asked to stop
};

// True after a walk (complete or ended by the visitor) and when a library,
// entry point or the id list is unavailable (nothing visited then). False
// when the version query fails, on an unsupported Windows, or when the
// toolhelp snapshot cannot be made.
bool WalkProcesses(ProcessVisitor visitor, ULONG_PTR data);

// The rights a process handle needs for ProcessPathReader::Read.
const DWORD kProcessPathRights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// Reads the executable path of a process through a handle the caller holds,
// the same way for the walk and for whoever checks a process again later:
// its main module's path (process-status library), or, where a 32-bit
// program cannot list a 64-bit process's modules, QueryFullProcessImageNameW
// (Vista and later, looked up by name in kernel32). The path is read in
// Unicode and handed on in the ANSI code page only when it goes there and
// back unchanged, so the ANSI calls that open it reach that file and no
// other: a name that the code page lacks would come back from the ANSI
// calls in best fit, as another name.
class ProcessPathReader {
 public:
  // Binds from the process-status library the caller holds loaded.
  explicit ProcessPathReader(HMODULE psapi);
  bool CanRead() const { return enum_modules_ != nullptr && module_file_name_ != nullptr; }
  // True with the whole path in path (MAX_PATH bytes). False with path
  // empty and a non-zero reason in GetLastError; a path the system cuts
  // short counts as unreadable, since it could name another file, and so
  // does one without an exact ANSI form.
  bool Read(HANDLE process, char* path) const;

 private:
  typedef BOOL(WINAPI* EnumProcessModulesFn)(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed);
  typedef DWORD(WINAPI* GetModuleFileNameExWFn)(HANDLE process, HMODULE module, LPWSTR name, DWORD size);
  typedef BOOL(WINAPI* QueryFullProcessImageNameWFn)(HANDLE process, DWORD flags, LPWSTR name, DWORD* size);
  bool ReadWide(HANDLE process, WCHAR* path) const;
  EnumProcessModulesFn enum_modules_;
  GetModuleFileNameExWFn module_file_name_;
  QueryFullProcessImageNameWFn query_image_name_;
};

// The VDMEnumTaskWOWEx callback; user is a TaskWalkContext*. Returns TRUE
// (stop) once the visitor has returned false.
BOOL WINAPI OnWowTask(DWORD thread_id, WORD module16, WORD task16, PSTR module_name,
                      PSTR file_name, LPARAM user);
