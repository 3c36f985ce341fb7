// ztxins64.exe: the 64-bit companion of the clean-up tool.
#include "lsp/companion_main.h"

int main(int argc, char** argv) { return CompanionMain(argc, argv); }
