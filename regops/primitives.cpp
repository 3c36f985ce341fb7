#include "regops/primitives.h"

#include "common/owners.h"
#include "common/text.h"

LONG RegDeleteDepth = 0;

namespace {

const REGSAM kReadAccess = KEY_READ;
const REGSAM kRead64Access = KEY_READ | KEY_WOW64_64KEY;
const REGSAM kFullAccess = KEY_ALL_ACCESS;
const REGSAM kFull64Access = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
const LONG kMaxNestedDepth = 5;

bool OpenKey(HKEY root, const char* subkey, REGSAM access, ScopedRegKey* key) {
  return RegOpenKeyExA(root, subkey, 0, access, key->Receive()) == ERROR_SUCCESS;
}

typedef LONG(WINAPI* NtDeleteKeyFn)(HANDLE);
const DWORD kOpenLink = 0x8;  // REG_OPTION_OPEN_LINK
const DWORD kLinkType = 6;    // REG_LINK
const int kMaxLinkWalkDepth = 32;

// A registry link is opened like any key: the tree deletion would enter what
// it leads to and delete that. Opened with REG_OPTION_OPEN_LINK, the link
// itself shows its "SymbolicLinkValue" and is removed with NtDeleteKey, which
// only NT has; Windows 9x has no links. 1 when subkey was a link and is gone,
// 0 when it is no link, -1 when it is a link that stays or may be one.
int RemoveIfRegLink(HKEY root, const char* subkey, REGSAM view) {
  {
    ScopedRegKey probe;
    if (RegOpenKeyExA(root, subkey, kOpenLink, KEY_QUERY_VALUE | view, probe.Receive()) != ERROR_SUCCESS)
      return 0;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(probe.Get(), "SymbolicLinkValue", nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && type != kLinkType)) return 0;
    // A key that cannot be told from a link is not walked into.
    if (status != ERROR_SUCCESS) return -1;
  }
  NtDeleteKeyFn delete_key = BindProc<NtDeleteKeyFn>(GetModuleHandleA("ntdll.dll"), "NtDeleteKey");
  if (delete_key == nullptr) return -1;
  ScopedRegKey link;
  if (RegOpenKeyExA(root, subkey, kOpenLink, DELETE | view, link.Receive()) != ERROR_SUCCESS) return -1;
  return delete_key(link.Get()) == 0 ? 1 : -1;
}

// Removes every registry link below the open key, without entering any; each
// subkey is opened by its name relative to its parent, so no path is ever
// built. False when one stays or a part of the tree could not be looked at.
bool RemoveRegLinksBelow(HKEY key, int depth) {
  if (depth > kMaxLinkWalkDepth) return false;
  // As long a name as the tree deletion itself takes.
  char name[1000];
  for (DWORD index = 0;;) {
    DWORD name_size = sizeof name;
    LONG status = RegEnumKeyExA(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS) return false;
    int link = RemoveIfRegLink(key, name, 0);
    if (link < 0) return false;
    // A removed link hands its index to the next subkey.
    if (link > 0) continue;
    ScopedRegKey child;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, child.Receive()) != ERROR_SUCCESS) return false;
    if (!RemoveRegLinksBelow(child.Get(), depth + 1)) return false;
    ++index;
  }
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
  if (RegDeleteDepth > kMaxNestedDepth) return 0;
  char nested[1000];
  memset(nested, 0, sizeof nested);
  {
    ScopedRegKey key;
    LONG opened = RegOpenKeyExA(root, subkey, 0, kFullAccess, key.Receive());
    if (RegDeleteDepth == 0) {
      // Links go first, as links, so that nothing below walks into one.
      int link = RemoveIfRegLink(root, subkey, 0);
      if (link != 0) return link > 0 ? 1 : 0;
      bool checked = opened == ERROR_SUCCESS ? RemoveRegLinksBelow(key.Get(), 0)
                                             : opened == ERROR_FILE_NOT_FOUND;
      if (!checked) return 0;
    }
    if (opened == ERROR_SUCCESS) {
      char name[1000];
      for (DWORD index = 0;; ++index) {
        DWORD name_size = sizeof name;
        if (SHEnumKeyExA(key.Get(), index, name, &name_size) != ERROR_SUCCESS) break;
        // A nested path that does not fit is skipped: this key's own deletion
        // below takes that subkey with it.
        if (!JoinPath(nested, sizeof nested, subkey, name)) continue;
        ++RegDeleteDepth;
        DeleteRegKeyTree(root, nested);
        --RegDeleteDepth;
      }
    }
  }
  return SHDeleteKeyA(root, subkey) == ERROR_SUCCESS ? 1 : 0;
}

int PurgeRegSubkeys64(HKEY root, const char* subkey) {
  ScopedRegKey key;
  if (!OpenKey(root, subkey, kFull64Access, &key)) return 0;
  char name[256];
  bool all_deleted = true;
  LSTATUS status = ERROR_SUCCESS;
  // A subkey that cannot be deleted stays at its index; step past it so that
  // the purge still reaches the others and always ends.
  for (DWORD index = 0;;) {
    DWORD name_size = 255;
    status = RegEnumKeyExA(key.Get(), index, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) break;
    // RegDeleteKeyA would delete what a link leads to.
    int link = RemoveIfRegLink(key.Get(), name, KEY_WOW64_64KEY);
    if (link > 0) continue;
    if (link < 0 || RegDeleteKeyA(key.Get(), name) != ERROR_SUCCESS) {
      all_deleted = false;
      ++index;
    }
  }
  return (status == ERROR_NO_MORE_ITEMS && all_deleted) ? 1 : 0;
}
