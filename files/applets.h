// The product's files in the Windows folders: the control-panel applets, the
// LSP DLLs, and the run of the 64-bit companion. Results are non-zero for
// success; verbose 1 prints the dots and the result line, 0 runs silently.
#pragma once

int DeleteControlPanelApplet(int verbose);
// Deletes the native 64-bit applet with WOW64 redirection off; 0 only when
// the redirection entry points are missing.
int DeleteControlPanelApplet64(int verbose);
// 1 when the file in the Windows directory is absent, else the deletion's result.
int DeleteWindowsDirFile(const char* name);
// Deletes "ztxlsp64.dll" then "ztxlsp.dll"; leaves both while the product's
// LSP is still listed in the Winsock catalog.
int DeleteLspDlls(int verbose);
// Starts file hidden through the shell and waits for its end.
void RunAndWait(const char* file, const char* parameters);
// Runs ".\ztxins64.exe -f" from the current directory, then deletes the LSP
// DLLs; 0 when the companion is missing.
int RunCompanion64(int verbose);
