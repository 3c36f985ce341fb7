// A fresh look at the Winsock catalog that this process sees: whether an
// entry of the product's layered provider is still listed. Deleting the LSP
// DLLs while one is listed would break networking for every program.
#pragma once

int IsProductLspListed();
