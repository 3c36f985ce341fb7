// A fresh look at the Winsock catalog that this process sees: whether an
// entry of the product's layered provider is still listed. Deleting the LSP
// DLLs while one is listed would break networking for every program.
#pragma once

struct CatalogApi;

// Non-zero when an entry carries the product's LSP GUID, and also when the
// catalog cannot be read.
int IsProductLspListed();
// The same look at the catalog the table reaches; Winsock must be started.
int IsProductLspListedIn(const CatalogApi& api);
