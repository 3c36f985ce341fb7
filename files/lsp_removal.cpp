#include "files/lsp_removal.h"

#include "files/applets.h"
#include "lsp/setup.h"

int RemoveProductLsp(int verbose) {
  StartWinsock();
  int whole = 0;
  {
    BoundCatalog catalog(false);
    whole = RemoveProductFromCatalog(catalog.Api());
  }
  // Balances StartWinsock whatever it achieved: the start-up loop has already
  // cleaned up after each refused version.
  WSACleanup();
  return DeleteLspDllsAfterRemoval(verbose, whole);
}
