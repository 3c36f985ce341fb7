// The 64-bit companion: with the single argument "-f" it removes the
// product's LSP from the 64-bit catalog and from the 32-bit catalog of 64-bit
// Windows, repairing the chains other providers built over it. Exit code 0
// only when both catalogs are left whole and free of the product's LSP, 1
// otherwise, 2 (after a usage line, nothing changed) for other arguments.
#pragma once

int CompanionMain(int argc, char** argv);
