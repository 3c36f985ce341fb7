// The tool's run: banner, the y/n question, the fixed sequence of clean-up
// steps, the summary and the key wait.
#pragma once

#include "platform/win.h"

// The shared "advapi32.dll" handle: loaded before the banner and released
// after the last step; null when the load failed or outside a run.
extern HMODULE g_AdvapiModule;

void PrintBanner();
// The whole run; gives the process exit code.
int RunCleanup();
