#include "regops/primitives.h"

#include "common/owners.h"
#include "common/text.h"

#include <utility>

LONG RegDeleteDepth = 0;

namespace {

const REGSAM kReadAccess = KEY_READ;
const REGSAM kRead64Access = KEY_READ | KEY_WOW64_64KEY;
const REGSAM kFullAccess = KEY_ALL_ACCESS;
const REGSAM kFull64Access = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

bool OpenKey(HKEY root, const char* subkey, REGSAM access, ScopedRegKey* key) {
  return RegOpenKeyExA(root, subkey, 0, access, key->Receive()) == ERROR_SUCCESS;
}

typedef LONG(WINAPI* NtDeleteKeyFn)(HANDLE);
const DWORD kOpenLink = REG_OPTION_OPEN_LINK;
// Windows allows 512 levels; the product's trees are a few levels deep. A
// key more than this many levels below the top stays, with its ancestors,
// and the deletion fails.
const LONG kMaxTreeDepth = 32;
// A key name is at most 255 characters, 510 bytes in a double-byte code page.
const DWORD kNameBytes = 512;

// NtDeleteKey deletes the very key a handle was opened on, a link opened as a
// link included; every NT has it in ntdll, which is always loaded.
NtDeleteKeyFn BindNtDeleteKey() {
  return BindProc<NtDeleteKeyFn>(GetModuleHandleA("ntdll.dll"), "NtDeleteKey");
}

// Windows 95, 98 and Me have no registry links and no NtDeleteKey; there
// RegDeleteKeyA takes a key with its whole tree.
bool IsWindows9x() {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Opens the key at subkey one level at a time, each relative to the one
// above and as a link where it is one (REG_OPTION_OPEN_LINK), so that no link
// on the way is ever followed: a link's own key has no subkeys. The last
// level gets `access`, the others read access; `view` goes with every level,
// since Windows XP x64 keeps no view on a handle. With a non-null `leaf` the
// last level is not opened: key is then its parent (root itself when the
// path has one level; key stays empty) and *leaf points at its name.
LONG OpenLevels(HKEY root, const char* subkey, REGSAM view, REGSAM access, ScopedRegKey* key,
                const char** leaf) {
  HKEY at = root;
  ScopedRegKey held;
  const char* rest = subkey;
  for (;;) {
    const char* slash = strchr(rest, '\\');
    bool last = slash == nullptr;
    if (last && leaf != nullptr) {
      *leaf = rest;
      *key = std::move(held);
      return ERROR_SUCCESS;
    }
    char name[kNameBytes];
    size_t length = last ? strlen(rest) : static_cast<size_t>(slash - rest);
    if (length == 0 || length >= sizeof name) return ERROR_INVALID_PARAMETER;
    memcpy(name, rest, length);
    name[length] = '\0';
    ScopedRegKey next;
    LONG status = RegOpenKeyExA(at, name, kOpenLink, (last ? access : KEY_READ) | view, next.Receive());
    if (status != ERROR_SUCCESS) return status;
    held = std::move(next);
    at = held.Get();
    if (last) {
      *key = std::move(held);
      return ERROR_SUCCESS;
    }
    rest = slash + 1;
  }
}

// Deletes the open key and everything below it, bottom-up, each subkey
// opened relative to its parent as a link where it is one and deleted
// through that handle: what is deleted is what was opened, whatever a name
// leads to meanwhile. A subkey that stays (or appears after the last look)
// keeps its parent, and the deletion fails.
bool DeleteOpenedTree(HKEY key, NtDeleteKeyFn delete_key) {
  if (RegDeleteDepth > kMaxTreeDepth) return false;
  bool whole = true;
  char name[kNameBytes];
  // A deleted subkey hands its index to the next one; one that stays is
  // stepped past, so the loop always ends.
  for (DWORD index = 0;;) {
    DWORD name_size = sizeof name;
    LONG status = RegEnumKeyExA(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return false;
    ScopedRegKey child;
    bool gone = false;
    if (RegOpenKeyExA(key, name, kOpenLink, KEY_ALL_ACCESS, child.Receive()) == ERROR_SUCCESS) {
      ++RegDeleteDepth;
      gone = DeleteOpenedTree(child.Get(), delete_key);
      --RegDeleteDepth;
    }
    if (!gone) {
      whole = false;
      ++index;
    }
  }
  return whole && delete_key(key) == 0;
}

}  // namespace

int IsRegKeyPresent(HKEY root, const char* subkey) {
  ScopedRegKey key;
  return OpenKey(root, subkey, kReadAccess, &key) ? 1 : 0;
}

int RegKeyState(HKEY root, const char* subkey) {
  ScopedRegKey key;
  LONG status = RegOpenKeyExA(root, subkey, 0, kReadAccess, key.Receive());
  if (status == ERROR_SUCCESS) return 1;
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return 0;
  return -1;
}

int IsRegKeyPresent64(HKEY root, const char* subkey) {
  ScopedRegKey key;
  return OpenKey(root, subkey, kRead64Access, &key) ? 1 : 0;
}

void ReadRegString(HKEY root, const char* subkey, const char* value_name, char* buffer,
                   size_t buffer_size) {
  if (buffer == nullptr || buffer_size == 0) return;
  BYTE inner[512];
  memset(inner, 0, sizeof inner);
  DWORD count = sizeof inner;
  DWORD type = 0;
  {
    ScopedRegKey key;
    if (!OpenKey(root, subkey, kReadAccess, &key)) return;
    if (RegQueryValueExA(key.Get(), value_name, nullptr, &type, inner, &count) != ERROR_SUCCESS) return;
  }
  if (count > sizeof inner) return;
  // The copy must stay a terminated string inside the caller's buffer: a value
  // that would not fit is refused rather than cut short.
  bool fits = count < buffer_size || (count == buffer_size && inner[count - 1] == 0);
  if (!fits) return;
  memset(buffer, 0, buffer_size < 4 ? buffer_size : 4);
  memcpy(buffer, inner, count);
  if (count < buffer_size) buffer[count] = '\0';
}

int ReadRegValue(HKEY root, const char* subkey, const char* value_name, void* buffer, DWORD size) {
  ScopedRegKey key;
  if (!OpenKey(root, subkey, kReadAccess, &key)) return 0;
  DWORD count = size;
  return RegQueryValueExA(key.Get(), value_name, nullptr, nullptr, static_cast<BYTE*>(buffer),
                          &count) == ERROR_SUCCESS
             ? 1
             : 0;
}

int IsRegValuePresent(HKEY root, const char* subkey, const char* value_name) {
  ScopedRegKey key;
  if (!OpenKey(root, subkey, kFullAccess, &key)) return 0;
  DWORD type = 0;
  DWORD count = 0;
  return RegQueryValueExA(key.Get(), value_name, nullptr, &type, nullptr, &count) == ERROR_SUCCESS ? 1 : 0;
}

int DeleteRegValue(HKEY root, const char* subkey, const char* value_name) {
  ScopedRegKey key;
  if (!OpenKey(root, subkey, kFullAccess, &key)) return 0;
  return RegDeleteValueA(key.Get(), value_name) == ERROR_SUCCESS ? 1 : 0;
}

int DeleteRegKeyTree(HKEY root, const char* subkey) {
  if (RegDeleteDepth > kMaxTreeDepth) return 0;
  NtDeleteKeyFn delete_key = BindNtDeleteKey();
  if (delete_key == nullptr) {
    // Without NtDeleteKey a key could only go by name, which follows a link;
    // only Windows 9x lacks it, and it has no links.
    if (!IsWindows9x()) return 0;
    ScopedRegKey parent;
    const char* leaf = nullptr;
    if (OpenLevels(root, subkey, 0, KEY_ALL_ACCESS, &parent, &leaf) != ERROR_SUCCESS) return 0;
    return RegDeleteKeyA(parent.Valid() ? parent.Get() : root, leaf) == ERROR_SUCCESS ? 1 : 0;
  }
  ScopedRegKey key;
  if (OpenLevels(root, subkey, 0, kFullAccess, &key, nullptr) != ERROR_SUCCESS) return 0;
  return DeleteOpenedTree(key.Get(), delete_key) ? 1 : 0;
}

int PurgeRegSubkeys64(HKEY root, const char* subkey) {
  ScopedRegKey key;
  if (OpenLevels(root, subkey, KEY_WOW64_64KEY, kFull64Access, &key, nullptr) != ERROR_SUCCESS) return 0;
  NtDeleteKeyFn delete_key = BindNtDeleteKey();
  char name[256];
  bool all_deleted = true;
  LSTATUS status = ERROR_SUCCESS;
  // A subkey that cannot be deleted stays at its index; step past it so that
  // the purge still reaches the others and always ends.
  for (DWORD index = 0;;) {
    DWORD name_size = 255;
    status = RegEnumKeyExA(key.Get(), index, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) break;
    // Opened in the 64-bit view (RegDeleteKeyA on Windows XP x64 would
    // delete a same-named key of the 32-bit view) and as a link where it is
    // one, then deleted through that handle; like RegDeleteKeyA, NtDeleteKey
    // refuses a key that has subkeys.
    ScopedRegKey child;
    bool deleted = delete_key != nullptr &&
                   RegOpenKeyExA(key.Get(), name, kOpenLink, DELETE | KEY_WOW64_64KEY, child.Receive()) ==
                       ERROR_SUCCESS &&
                   delete_key(child.Get()) == 0;
    if (!deleted) {
      all_deleted = false;
      ++index;
    }
  }
  return (status == ERROR_NO_MORE_ITEMS && all_deleted) ? 1 : 0;
}
