// Removal of the product's layered service provider from the Winsock catalog.
#pragma once

int RemoveProductLsp(int verbose);
