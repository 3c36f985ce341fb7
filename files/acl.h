// Replaces a folder's access list on NTFS with inheritable entries that give
// one account the access mask; silently does nothing wherever that cannot be
// done (no advapi32, an entry point missing, another file system, any failure).
#pragma once

#include "common/owners.h"
#include "platform/win.h"

// The shared "advapi32.dll" handle the reset binds its entry points in. The
// run loads it before the banner and releases it after the last step; null
// when the load failed or outside a run.
extern HMODULE g_AdvapiModule;

// Acts on the folder at path itself: when the path's last name is a link (a
// junction or a symbolic link), nothing is done.
void ResetFolderAcl(const char* path, const char* account, DWORD access_mask);

// The same reset through a folder handle opened with READ_CONTROL and
// WRITE_DAC, on the volume of volume_path. When saved is given, it receives
// the folder's security descriptor as it was (DACL only), so that it can be
// written back. True when the new list was written.
bool ReplaceFolderDacl(HANDLE folder, const char* volume_path, const char* account, DWORD access_mask,
                       ScopedLocalMemory* saved);
// Writes a list kept by ReplaceFolderDacl back through a handle like it.
void RestoreFolderDacl(HANDLE folder, const ScopedLocalMemory& saved);

// Opens the folder at path with the access asked for, without following a
// link in its last name; empty unless it is a folder and not a link. Opened
// for reading (GENERIC_READ) and held, the folder cannot be renamed or
// removed meanwhile, so no link can take its place.
ScopedFile OpenPlainFolder(const char* path, DWORD access);
