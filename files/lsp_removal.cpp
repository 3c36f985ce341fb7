#include "files/lsp_removal.h"

#include "files/applets.h"
#include "lsp/setup.h"

int RemoveProductLsp(int verbose) {
  int whole = 0;
  {
    WinsockSession winsock;
    BoundCatalog catalog(false);
    whole = RemoveProductFromCatalog(catalog.Api());
  }
  return DeleteLspDllsAfterRemoval(verbose, whole);
}
