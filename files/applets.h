// The product's files in the Windows folders: the control-panel applets, the
// LSP DLLs, and the run of the 64-bit companion.
#pragma once

int DeleteControlPanelApplet(int verbose);
int DeleteControlPanelApplet64(int verbose);
int DeleteWindowsDirFile(const char* name);
int DeleteLspDlls(int verbose);
void RunAndWait(const char* file, const char* parameters);
int RunCompanion64(int verbose);
