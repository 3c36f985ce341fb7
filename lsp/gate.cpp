#include "lsp/gate.h"

#include "lsp/setup.h"

namespace {

bool IsListedLayeredId(const CVLLspSetup& setup, DWORD id) {
  for (int i = 0; i < setup.ProviderCount; ++i) {
    const WSAPROTOCOL_INFOW& e = setup.Providers[i];
    if (e.ProtocolChain.ChainLen == LAYERED_PROTOCOL && e.dwCatalogEntryId == id) return true;
  }
  return false;
}

bool IsProductDllName(const WCHAR* name) {
  static const char* const kDlls[] = {"ztxlsp.dll", "ztxlsp64.dll"};
  for (const char* dll : kDlls) {
    size_t i = 0;
    for (; dll[i] != '\0' && name[i] != 0; ++i) {
      WCHAR c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
      if (c != static_cast<WCHAR>(dll[i])) break;
    }
    if (dll[i] == '\0' && name[i] == 0) return true;
  }
  return false;
}

// Whether an entry's provider DLL is one of the product's; an entry whose
// path cannot be read counts as the product's, so that its DLLs stay.
bool LoadsProductDll(const CatalogApi& api, const WSAPROTOCOL_INFOW& entry) {
  WCHAR path[MAX_PATH + 1];
  memset(path, 0, sizeof path);
  int length = MAX_PATH;
  int error = 0;
  GUID guid = entry.ProviderId;
  if (api.GetProviderPath(&guid, path, &length, &error) != 0) return true;
  const WCHAR* name = path;
  for (const WCHAR* p = path; *p != 0; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  return IsProductDllName(name);
}

}  // namespace

int IsProductLspListedIn(const CatalogApi& api) {
  CVLLspSetup setup(api);
  if (!setup.EnumerateProviders()) return 0;
  for (int i = 0; i < setup.ProviderCount; ++i) {
    const WSAPROTOCOL_INFOW& e = setup.Providers[i];
    if (IsSameGuid(e.ProviderId, ProductLspGuid)) return 1;
    // A chain whose layered entry is gone is what an interrupted removal
    // leaves of the product's chains, which may carry GUIDs of their own;
    // such a chain still loads the product's DLL. Another vendor's broken
    // chain names its own DLL and does not hold ours back.
    if (e.ProtocolChain.ChainLen > 1 && !IsListedLayeredId(setup, e.ProtocolChain.ChainEntries[0]) &&
        LoadsProductDll(api, e))
      return 1;
  }
  return 0;
}

int IsProductLspListed() {
  StartWinsock();
  int listed = IsProductLspListedIn(kNativeCatalog);
  WSACleanup();
  return listed;
}
