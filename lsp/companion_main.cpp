#include "lsp/companion_main.h"

#include "common/owners.h"
#include "lsp/setup.h"

namespace {

// 1 when an entry of the product's LSP is listed, 0 when none is, -1 when the
// catalog cannot be read (which must not pass for a clean catalog).
int ProductListing(const CatalogApi& api) {
  CVLLspSetup setup(api);
  if (!setup.EnumerateProviders()) return -1;
  for (int i = 0; i < setup.ProviderCount; ++i)
    if (IsSameGuid(setup.Providers[i].ProviderId, ProductLspGuid)) return 1;
  return 0;
}

// Removes the product's LSP from one catalog; true when none of it is left.
bool CleanCatalog(const CatalogApi& api) {
  {
    CVLLspSetup setup(api);
    setup.RemoveAllLayered(&ProductLspGuid);
  }
  return ProductListing(api) == 0;
}

}  // namespace

int CompanionMain(int argc, char** argv) {
  if (argc != 2 || strcmp(argv[1], "-f") != 0) {
    fputs("usage: ztxins64 -f  (removes the ZTX layered provider from the Winsock catalogs)\n", stderr);
    return 2;
  }
  StartWinsock();
  bool clean = CleanCatalog(kNativeCatalog);

  // The 32-bit catalog functions came late and Wine has none: look them up.
  ScopedLibrary ws2(LoadLibraryA("ws2_32.dll"));
  CatalogApi wow32 = {BindProc<EnumProtocolsFn>(ws2.Get(), "WSCEnumProtocols32"),
                      BindProc<GetProviderPathFn>(ws2.Get(), "WSCGetProviderPath32"),
                      BindProc<DeinstallProviderFn>(ws2.Get(), "WSCDeinstallProvider32")};
  if (wow32.EnumProtocols == nullptr || wow32.GetProviderPath == nullptr || wow32.DeinstallProvider == nullptr) {
    DebugTrace("CVLLspSetup::Companion 32-bit catalog functions missing: catalog skipped");
  } else {
    DebugTrace("CVLLspSetup::Companion 32-bit catalog");
    clean = CleanCatalog(wow32) && clean;
  }
  WSACleanup();
  return clean ? 0 : 1;
}
