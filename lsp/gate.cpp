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

}  // namespace

int IsProductLspListedIn(const CatalogApi& api) {
  if (!CanReadCatalog(api)) return 1;
  CVLLspSetup setup(api);
  // A catalog that cannot be read may still list the product: its DLLs stay.
  if (!setup.EnumerateProviders()) return 1;
  for (int i = 0; i < setup.ProviderCount; ++i) {
    const WSAPROTOCOL_INFOW& e = setup.Providers[i];
    if (IsSameGuid(e.ProviderId, ProductLspGuid)) return 1;
    // A chain whose layered entry is gone is what an interrupted removal
    // leaves of the product's chains, which may carry GUIDs of their own;
    // such a chain still loads the product's DLL. Another vendor's broken
    // chain names its own DLL and does not hold ours back.
    if (e.ProtocolChain.ChainLen > 1 && !IsListedLayeredId(setup, e.ProtocolChain.ChainEntries[0]) &&
        NamesProductDll(api, e, true))
      return 1;
  }
  return 0;
}

int IsProductLspListed() {
  WinsockSession winsock;
  BoundCatalog catalog(false);
  return IsProductLspListedIn(catalog.Api());
}
