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

// The VDMEnumTaskWOWEx callback; user is a TaskWalkContext*. Returns TRUE
// (stop) once the visitor has returned false.
BOOL WINAPI OnWowTask(DWORD thread_id, WORD module16, WORD task16, PSTR module_name,
                      PSTR file_name, LPARAM user);
