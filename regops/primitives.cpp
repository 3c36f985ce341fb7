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
typedef LONG(WINAPI* RegOpenKeyExWFn)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI* RegEnumKeyExWFn)(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPWSTR, LPDWORD, PFILETIME);
const DWORD kOpenLink = REG_OPTION_OPEN_LINK;
// Windows allows 512 levels; the product's trees are a few levels deep. A
// key more than this many levels below the top stays, with its ancestors,
// and the deletion fails.
const LONG kMaxTreeDepth = 32;
// A key name is at most 255 characters.
const DWORD kNameChars = 255;
// The tool's key paths; a longer one is refused.
const int kPathChars = MAX_PATH - 1;
// Names one deletion or purge lists at most, as the folder walk: a user who
// adds a subkey for every one deleted cannot keep a walk going, and a walk
// that reaches the bound fails.
const DWORD kMaxWalkNames = 65536;

// Windows 95, 98 and Me have no registry links and no NtDeleteKey, and keep
// ANSI names; there RegDeleteKeyA takes a key with its whole tree.
bool IsWindows9x() {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Windows 9x: the key's parent is opened by its path with ulOptions 0 (which
// the 9x documentation reserves) and the key deleted by name below it. The
// tool's key paths are ASCII, so the last backslash parts the path.
int DeleteTree9x(HKEY root, const char* subkey) {
  const char* slash = strrchr(subkey, '\\');
  if (slash == nullptr) return RegDeleteKeyA(root, subkey) == ERROR_SUCCESS ? 1 : 0;
  char parent_path[kPathChars + 1];
  size_t length = static_cast<size_t>(slash - subkey);
  if (length == 0 || length > kPathChars || slash[1] == '\0') return 0;
  memcpy(parent_path, subkey, length);
  parent_path[length] = '\0';
  ScopedRegKey parent;
  if (RegOpenKeyExA(root, parent_path, 0, KEY_ALL_ACCESS, parent.Receive()) != ERROR_SUCCESS) return 0;
  return RegDeleteKeyA(parent.Get(), slash + 1) == ERROR_SUCCESS ? 1 : 0;
}

enum class Listed { kName, kUnfit, kEnd, kStop };

// One walk of the NT registry: it lists, opens and deletes by the Unicode
// names the registry keeps (an ANSI name is the code page's best fit, and
// on a Japanese machine "X\u00a5Y" is listed as "X\\Y", a path), through
// entry points looked up by name, and lists at most kMaxWalkNames names.
struct RegistryWalk {
  RegOpenKeyExWFn open = nullptr;
  RegEnumKeyExWFn enumerate = nullptr;
  NtDeleteKeyFn delete_key = nullptr;
  DWORD names_left = kMaxWalkNames;

  // NtDeleteKey deletes the very key a handle was opened on, a link opened
  // as a link included; every NT has it in ntdll, which is always loaded.
  bool Bind() {
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    open = BindProc<RegOpenKeyExWFn>(advapi, "RegOpenKeyExW");
    enumerate = BindProc<RegEnumKeyExWFn>(advapi, "RegEnumKeyExW");
    delete_key = BindProc<NtDeleteKeyFn>(GetModuleHandleA("ntdll.dll"), "NtDeleteKey");
    return open != nullptr && enumerate != nullptr && delete_key != nullptr;
  }

  // The subkey at index into name. kUnfit: a name that cannot be read whole
  // or holds a backslash (it would be opened as a path); it is stepped past.
  // kStop: the bound is reached or the listing failed.
  Listed List(HKEY key, DWORD index, WCHAR (&name)[kNameChars + 1]) {
    if (names_left == 0) return Listed::kStop;
    DWORD chars = kNameChars + 1;
    LONG status = enumerate(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return Listed::kEnd;
    --names_left;
    if (status == ERROR_MORE_DATA) return Listed::kUnfit;
    if (status != ERROR_SUCCESS || chars > kNameChars) return Listed::kStop;
    name[chars] = 0;
    for (DWORD i = 0; i < chars; ++i)
      if (name[i] == '\\') return Listed::kUnfit;
    return Listed::kName;
  }
};

// Opens the key at subkey one level at a time, each relative to the one
// above and as a link where it is one (REG_OPTION_OPEN_LINK), so that no link
// on the way is ever followed: a link's own key has no subkeys. The path is
// made Unicode whole before it is parted at its backslashes, so a trail byte
// is never taken for one. The last level gets `access`, the others read
// access; `view` goes with every level, since Windows XP x64 keeps no view
// on a handle.
LONG OpenLevels(const RegistryWalk& walk, HKEY root, const char* subkey, REGSAM view, REGSAM access,
                ScopedRegKey* key) {
  WCHAR path[kPathChars + 1];
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, subkey, -1, path, kPathChars + 1) == 0)
    return ERROR_INVALID_PARAMETER;
  HKEY at = root;
  ScopedRegKey held;
  for (WCHAR* name = path;;) {
    WCHAR* end = name;
    while (*end != 0 && *end != '\\') ++end;
    bool last = *end == 0;
    size_t length = static_cast<size_t>(end - name);
    if (length == 0 || length > kNameChars) return ERROR_INVALID_PARAMETER;
    *end = 0;
    ScopedRegKey next;
    LONG status = walk.open(at, name, kOpenLink, (last ? access : KEY_READ) | view, next.Receive());
    if (status != ERROR_SUCCESS) return status;
    held = std::move(next);
    at = held.Get();
    if (last) {
      *key = std::move(held);
      return ERROR_SUCCESS;
    }
    name = end + 1;
  }
}

// Deletes the open key and everything below it, bottom-up, each subkey
// opened by its listed name relative to its parent, as a link where it is
// one, and deleted through that handle: what is deleted is what was opened,
// whatever a name leads to meanwhile. A subkey that stays (or appears after
// the last look) keeps its parent, and the deletion fails.
bool DeleteOpenedTree(HKEY key, RegistryWalk* walk) {
  if (RegDeleteDepth > kMaxTreeDepth) return false;
  bool whole = true;
  WCHAR name[kNameChars + 1];
  // A deleted subkey hands its index to the next one; one that stays is
  // stepped past.
  for (DWORD index = 0;;) {
    Listed listed = walk->List(key, index, name);
    if (listed == Listed::kEnd) break;
    if (listed == Listed::kStop) return false;
    ScopedRegKey child;
    bool gone = false;
    if (listed == Listed::kName &&
        walk->open(key, name, kOpenLink, KEY_ALL_ACCESS, child.Receive()) == ERROR_SUCCESS) {
      ++RegDeleteDepth;
      gone = DeleteOpenedTree(child.Get(), walk);
      --RegDeleteDepth;
    }
    if (!gone) {
      whole = false;
      ++index;
    }
  }
  return whole && walk->delete_key(key) == 0;
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
  // Without these a key could only be listed by its ANSI name and go by
  // name, which follows links; every NT the tool supports has them. Windows
  // 9x lacks NtDeleteKey (its W registry calls are stubs), and there the
  // ANSI calls stay. Wine posing as 98 has them all, and its registry is an
  // NT one (RegDeleteKeyA there refuses a key with subkeys), so it walks.
  RegistryWalk walk;
  if (!walk.Bind()) return IsWindows9x() ? DeleteTree9x(root, subkey) : 0;
  ScopedRegKey key;
  if (OpenLevels(walk, root, subkey, 0, kFullAccess, &key) != ERROR_SUCCESS) return 0;
  return DeleteOpenedTree(key.Get(), &walk) ? 1 : 0;
}

int PurgeRegSubkeys64(HKEY root, const char* subkey) {
  // Only 64-bit Windows has the view, and each is an NT.
  RegistryWalk walk;
  if (!walk.Bind()) return 0;
  ScopedRegKey key;
  if (OpenLevels(walk, root, subkey, KEY_WOW64_64KEY, kFull64Access, &key) != ERROR_SUCCESS) return 0;
  bool all_deleted = true;
  WCHAR name[kNameChars + 1];
  // A subkey that cannot be deleted stays at its index; step past it so that
  // the purge still reaches the others.
  for (DWORD index = 0;;) {
    Listed listed = walk.List(key.Get(), index, name);
    if (listed == Listed::kEnd) break;
    if (listed == Listed::kStop) return 0;
    // Opened in the 64-bit view (RegDeleteKeyA on Windows XP x64 would
    // delete a same-named key of the 32-bit view) and as a link where it is
    // one, then deleted through that handle; like RegDeleteKeyA, NtDeleteKey
    // refuses a key that has subkeys.
    ScopedRegKey child;
    bool deleted = listed == Listed::kName &&
                   walk.open(key.Get(), name, kOpenLink, DELETE | KEY_WOW64_64KEY, child.Receive()) ==
                       ERROR_SUCCESS &&
                   walk.delete_key(child.Get()) == 0;
    if (!deleted) {
      all_deleted = false;
      ++index;
    }
  }
  return all_deleted ? 1 : 0;
}
