// Loads a DLL of Windows from the system folder alone.
#pragma once

#include "platform/win.h"

// Loads the named DLL by its full path in the system folder (GetSystemDirectoryA
// joined with the name; for a WOW64 process that System32 leads to SysWOW64),
// so that no DLL of that name beside the tool or in the current folder is
// taken, and looks for its own dependencies beside it first. Null, nothing
// loaded, when the folder cannot be had or the path would not fit.
HMODULE LoadSystemLibrary(const char* name);
