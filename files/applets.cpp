#include "files/applets.h"

// Placeholder until the applet, LSP DLL and companion steps land: they find
// nothing to do.
int DeleteControlPanelApplet(int) { return 1; }
int DeleteControlPanelApplet64(int) { return 1; }
int DeleteWindowsDirFile(const char*) { return 1; }
int DeleteLspDlls(int) { return 1; }
void RunAndWait(const char*, const char*) {}
int RunCompanion64(int) { return 1; }
