// The 64-bit companion: with the single argument "-f" it removes the
// product's LSP from the 64-bit catalog and from the 32-bit catalog of 64-bit
// Windows. Exit code 0 when neither catalog lists the product's LSP any more,
// 1 otherwise, 2 (after a usage line, nothing changed) for other arguments.
#pragma once

int CompanionMain(int argc, char** argv);
