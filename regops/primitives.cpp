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
    if (OpenKey(root, subkey, kFullAccess, &key)) {
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
    if (RegDeleteKeyA(key.Get(), name) != ERROR_SUCCESS) {
      all_deleted = false;
      ++index;
    }
  }
  return (status == ERROR_NO_MORE_ITEMS && all_deleted) ? 1 : 0;
}
