#include "files/lsp_removal.h"

#include "files/applets.h"
#include "lsp/setup.h"

int RemoveProductLsp(int verbose) {
  StartWinsock();
  CVLLspSetup setup;
  setup.RemoveAllLayered(&ProductLspGuid);
  // Balances StartWinsock whatever it achieved: the start-up loop has already
  // cleaned up after each refused version.
  WSACleanup();
  return DeleteLspDlls(verbose);
}
