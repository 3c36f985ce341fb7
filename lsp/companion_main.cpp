#include "lsp/companion_main.h"

#include "common/owners.h"
#include "lsp/setup.h"

namespace {

const int kMaxLayered = 16;

// The catalog ids of the product's layered entries, so that chains built on
// them count as the product's even under another GUID.
struct ProductIds {
  DWORD ids[kMaxLayered];
  int count;
};

// 1 when an entry of the product's LSP is listed, 0 when none is, -1 when the
// catalog cannot be read (which must not pass for a clean catalog).
int ProductListing(const CatalogApi& api, ProductIds* layered) {
  CVLLspSetup setup(api);
  if (!setup.EnumerateProviders()) return -1;
  int listed = 0;
  for (int i = 0; i < setup.ProviderCount; ++i) {
    const WSAPROTOCOL_INFOW& e = setup.Providers[i];
    bool product = IsSameGuid(e.ProviderId, ProductLspGuid);
    if (product && e.ProtocolChain.ChainLen == LAYERED_PROTOCOL && layered->count < kMaxLayered)
      layered->ids[layered->count++] = e.dwCatalogEntryId;
    for (int k = 0; k < layered->count && !product; ++k)
      product = e.ProtocolChain.ChainLen > 1 && e.ProtocolChain.ChainEntries[0] == layered->ids[k];
    if (product) listed = 1;
  }
  return listed;
}

// Removes the product's LSP from one catalog; true when none of it is left.
// The removal runs on a clean catalog too: its trace then says it found no
// match, which is what a support engineer reading the debug output looks for.
bool CleanCatalog(const CatalogApi& api) {
  ProductIds layered = {{0}, 0};
  ProductListing(api, &layered);
  {
    CVLLspSetup setup(api);
    setup.RemoveAllLayered(&ProductLspGuid);
  }
  return ProductListing(api, &layered) == 0;
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
