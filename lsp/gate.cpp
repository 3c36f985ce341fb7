#include "lsp/gate.h"

#include "lsp/setup.h"

int IsProductLspListedIn(const CatalogApi& api) {
  CVLLspSetup setup(api);
  if (!setup.EnumerateProviders()) return 0;
  for (int i = 0; i < setup.ProviderCount; ++i)
    if (IsSameGuid(setup.Providers[i].ProviderId, ProductLspGuid)) return 1;
  return 0;
}

int IsProductLspListed() {
  StartWinsock();
  int listed = IsProductLspListedIn(kNativeCatalog);
  WSACleanup();
  return listed;
}
