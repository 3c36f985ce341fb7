// Replaces a folder's access list on NTFS with inheritable entries that give
// one account the access mask; silently does nothing wherever that cannot be
// done (no advapi32, an entry point missing, another file system, any
// failure). The folder is the one a handle was opened on, never a path.
#pragma once

#include "common/owners.h"
#include "platform/win.h"

// The shared "advapi32.dll" handle the reset binds its entry points in. The
// run loads it before the banner and releases it after the last step; null
// when the load failed or outside a run.
extern HMODULE g_AdvapiModule;

// Replaces the access list of the folder open as `folder` (with READ_CONTROL
// and WRITE_DAC) by two inheritable entries that give account the access
// mask, when the volume that volume_path begins with ("X:\\") is NTFS.
// When saved is given, it receives the folder's descriptor as it was (DACL
// only), so that it can be written back; without a copy the list is not
// replaced. True when the new list was written.
bool ResetFolderAcl(HANDLE folder, const char* volume_path, const char* account, DWORD access_mask,
                    ScopedLocalMemory* saved);
// Writes a list kept by ResetFolderAcl back through a handle like it.
void RestoreFolderDacl(HANDLE folder, const ScopedLocalMemory& saved);
