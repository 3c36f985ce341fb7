// The DLL paths of a GUID's entries, read from the catalog's registry copy.
// WSCGetProviderPath reports one path per GUID (the first entry's), while
// Windows keeps a path in each entry: the value "PackedCatalogItem" of the
// entry's key holds MAX_PATH bytes of narrow path, then the entry's
// WSAPROTOCOL_INFOW (ReactOS ws2_32 dcatitem.c). WSCUpdateProvider and
// WSCInstallProvider write one path for every entry of the GUID they are
// given, so a repair asks here before it writes one.
#include "common/owners.h"
#include "common/text.h"
#include "lsp/setup.h"

namespace {

const char kCatalogRoot[] = "SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\";
// Room for the item: the path and the record, and whatever a later Windows
// appends after them. A larger item is not read.
const DWORD kItemRoom = 2048;

}  // namespace

int GuidPathsAgree(const CatalogApi& api, const GUID& guid, int count) {
  char key_path[160];
  ScopedRegKey entries;
  if (!ConcatText(key_path, sizeof key_path, kCatalogRoot, api.EntriesKey) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, entries.Receive()) != ERROR_SUCCESS)
    return kPathsUnread;
  char first[MAX_PATH];
  int seen = 0;
  for (DWORD index = 0;; ++index) {
    char name[64];
    DWORD name_length = sizeof name;
    LSTATUS status = RegEnumKeyExA(entries.Get(), index, name, &name_length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return kPathsUnread;
    ScopedRegKey entry;
    if (RegOpenKeyExA(entries.Get(), name, 0, KEY_QUERY_VALUE, entry.Receive()) != ERROR_SUCCESS) return kPathsUnread;
    BYTE item[kItemRoom];
    DWORD type = 0;
    DWORD size = sizeof item;
    if (RegQueryValueExA(entry.Get(), "PackedCatalogItem", nullptr, &type, item, &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size < MAX_PATH + sizeof(WSAPROTOCOL_INFOW))
      return kPathsUnread;
    WSAPROTOCOL_INFOW info;
    memcpy(&info, item + MAX_PATH, sizeof info);
    if (!IsSameGuid(info.ProviderId, guid)) continue;
    const char* path = reinterpret_cast<const char*>(item);
    // A path without its terminator in its MAX_PATH bytes is no path (a
    // loop, since msvcrt of Windows 98 has no memchr).
    int length = 0;
    while (length < MAX_PATH && path[length] != '\0') ++length;
    if (length == MAX_PATH) return kPathsUnread;
    // Byte for byte: a case-blind comparison could fold a trail byte of a
    // double-byte character and take two paths for one.
    if (seen++ == 0)
      memcpy(first, path, MAX_PATH);
    else if (strcmp(first, path) != 0)
      return kPathsDiffer;
  }
  // A copy that does not list every entry of the GUID is not the catalog.
  return seen == count ? kPathsAgree : kPathsUnread;
}
