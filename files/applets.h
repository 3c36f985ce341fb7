// The product's files in the Windows folders: the control-panel applets, the
// LSP DLLs, and the run of the 64-bit companion. Results are non-zero for
// success; verbose 1 prints the dots and the result line, 0 runs silently.
#pragma once

#include "platform/win.h"

int DeleteControlPanelApplet(int verbose);
// Deletes the native 64-bit applet with WOW64 redirection off; 0 only when
// the redirection entry points are missing.
int DeleteControlPanelApplet64(int verbose);
// 1 when the file in the Windows directory is absent, else the deletion's result.
int DeleteWindowsDirFile(const char* name);
// Deletes "ztxlsp64.dll" then "ztxlsp.dll"; leaves both while the product's
// LSP is still listed in the Winsock catalog.
int DeleteLspDlls(int verbose);
// DeleteLspDlls after the catalog removal: with catalog_whole 0 the step
// fails (failure line) even when the DLLs could go.
int DeleteLspDllsAfterRemoval(int verbose, int catalog_whole);
// Starts file hidden through the shell, without any dialog of the shell's,
// and waits for its end; true, with the exit code, when the program started
// and its end could be seen.
bool RunAndWait(const char* file, const char* parameters, DWORD* exit_code);
// Runs ".\ztxins64.exe -f" from the current directory and deletes the LSP
// DLLs only after it exited with 0; 0 when it is missing, could not start or
// exited otherwise (the DLLs then stay).
int RunCompanion64(int verbose);
