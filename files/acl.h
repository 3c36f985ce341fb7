// Replaces a folder's access list on NTFS with inheritable entries that give
// one account the access mask; silently does nothing wherever that cannot be
// done (no advapi32, an entry point missing, another file system, any failure).
#pragma once

#include "platform/win.h"

// The shared "advapi32.dll" handle the reset binds its entry points in. The
// run loads it before the banner and releases it after the last step; null
// when the load failed or outside a run.
extern HMODULE g_AdvapiModule;

void ResetFolderAcl(const char* path, const char* account, DWORD access_mask);
