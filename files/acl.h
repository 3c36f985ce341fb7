// Replaces a folder's access list on NTFS with inheritable entries that give
// one account the access mask; silently does nothing wherever that cannot be
// done (no advapi32, an entry point missing, another file system, any failure).
#pragma once

#include "platform/win.h"

void ResetFolderAcl(const char* path, const char* account, DWORD access_mask);
