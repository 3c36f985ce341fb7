// The tool's run: banner, the y/n question, the fixed sequence of clean-up
// steps, the summary and the key wait.
#pragma once

void PrintBanner();
// The whole run; gives the process exit code.
int RunCleanup();
