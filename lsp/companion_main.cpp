#include "lsp/companion_main.h"

#include "lsp/setup.h"

int CompanionMain(int argc, char** argv) {
  if (argc != 2 || strcmp(argv[1], "-f") != 0) {
    fputs("usage: ztxins64 -f  (removes the ZTX layered provider from the Winsock catalogs)\n", stderr);
    return 2;
  }
  WinsockSession winsock;
  // The removal runs on a clean catalog too: its trace then says it found no
  // match, which is what a support engineer reading the debug output looks for.
  int whole = 0;
  {
    BoundCatalog native(false, kCatalogEntries64);
    whole = RemoveProductFromCatalog(native.Api());
  }
  {
    // The 32-bit catalog functions came late and Wine has none; where they
    // are missing there is no 32-bit catalog apart from the native one.
    BoundCatalog wow32(true);
    if (!wow32.CanRead()) {
      DebugTrace("CVLLspSetup::Companion 32-bit catalog functions missing: catalog skipped");
    } else {
      DebugTrace("CVLLspSetup::Companion 32-bit catalog");
      whole = RemoveProductFromCatalog(wow32.Api()) && whole;
    }
  }
  // The tool deletes ztxlsp64.dll only after an exit code of 0.
  return whole ? 0 : 1;
}
