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

// Opens the folder at path with the access asked for, without following a
// link in its last name; empty unless it is a folder and not a link. Opened
// for reading (GENERIC_READ) and held, the folder cannot be renamed or
// removed meanwhile, so no link can take its place.
ScopedFile OpenPlainFolder(const char* path, DWORD access);
