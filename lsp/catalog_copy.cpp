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

const char kWinsockParameters[] = "SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters";
const char kDefaultCatalogKey[] = "Protocol_Catalog9";
// Room for the item: the path and the record, and whatever a later Windows
// appends after them. A larger item is not read.
const DWORD kItemRoom = 2048;

// Opens the catalog's key where Winsock itself reads the catalog: ws2_32
// takes the key's name from the value Current_Protocol_Catalog of the
// Parameters key and opens that key below it (ReactOS ws2_32 dcatalog.c,
// WsTcOpen), on 9x as on NT. Where the value is missing the key is
// Protocol_Catalog9, the name Windows writes there. A value that is no
// single key name, or does not fit, is not followed.
bool OpenCatalogKey(ScopedRegKey* catalog) {
  ScopedRegKey parameters;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWinsockParameters, 0, KEY_READ, parameters.Receive()) != ERROR_SUCCESS)
    return false;
  char name[64];
  memset(name, 0, sizeof name);
  DWORD type = 0;
  DWORD size = sizeof name - 1;
  LSTATUS status = RegQueryValueExA(parameters.Get(), "Current_Protocol_Catalog", nullptr, &type,
                                    reinterpret_cast<BYTE*>(name), &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    CopyText(name, sizeof name, kDefaultCatalogKey);
  } else if (status != ERROR_SUCCESS || type != REG_SZ || name[0] == '\0' || strchr(name, '\\') != nullptr) {
    return false;
  }
  return RegOpenKeyExA(parameters.Get(), name, 0, KEY_READ, catalog->Receive()) == ERROR_SUCCESS;
}

}  // namespace

int GuidPathsAgree(const CatalogApi& api, const GUID& guid, int count) {
  ScopedRegKey catalog;
  ScopedRegKey entries;
  if (!OpenCatalogKey(&catalog) ||
      RegOpenKeyExA(catalog.Get(), api.EntriesKey, 0, KEY_READ, entries.Receive()) != ERROR_SUCCESS)
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
