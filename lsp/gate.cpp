#include "lsp/gate.h"

// Placeholder until the catalog reading lands: nothing is listed.
int IsProductLspListed() { return 0; }
