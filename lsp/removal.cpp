#include "lsp/removal.h"

#include "files/applets.h"

// Placeholder until the catalog removal lands: only the DLL step runs.
int RemoveProductLsp(int verbose) { return DeleteLspDlls(verbose); }
