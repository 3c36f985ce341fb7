// The registry operations every registry step rests on. Each opens the key it
// needs, does one thing and closes it again; none prints anything. Flags are
// non-zero for true.
#pragma once

#include "platform/win.h"

#include <cstddef>

// Depth of the running DeleteRegKeyTree below its top-level call. Every caller
// sets it to 0 right before a top-level DeleteRegKeyTree; a tree of more than
// 32 levels below its top is not deleted.
extern LONG RegDeleteDepth;

int IsRegKeyPresent(HKEY root, const char* subkey);
int IsRegKeyPresent64(HKEY root, const char* subkey);
// 1 when the key opens for reading, 0 when Windows reports it missing, -1
// when the open failed for any other reason (the key may well be there).
int RegKeyState(HKEY root, const char* subkey);
// Copies the value's bytes (at most 512) into buffer. A value that cannot be
// read, or that would not fit buffer_size as a terminated string, leaves the
// buffer untouched.
void ReadRegString(HKEY root, const char* subkey, const char* value_name, char* buffer,
                   size_t buffer_size);
int ReadRegValue(HKEY root, const char* subkey, const char* value_name, void* buffer, DWORD size);
int IsRegValuePresent(HKEY root, const char* subkey, const char* value_name);
int DeleteRegValue(HKEY root, const char* subkey, const char* value_name);
// Deletes the key with everything below it; true when the key itself went.
// Every level is opened relative to its parent and never through a link; a
// link in the tree is removed as a link; each key goes through the handle
// it was opened with. On the NT family every name is listed and opened in
// Unicode as the registry keeps it; at most 65,536 names are listed.
int DeleteRegKeyTree(HKEY root, const char* subkey);
// Deletes every direct subkey of the key in the 64-bit view, a link as a
// link, each through its own handle of that view, listed and opened in
// Unicode; steps past a subkey that stays; true when none is left. At most
// 65,536 names are listed.
int PurgeRegSubkeys64(HKEY root, const char* subkey);
