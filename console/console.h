// The tool's console: fixed texts out, one answer line in, one key at the end.
#pragma once

#include "platform/win.h"

#include <cstddef>

// Writes the text unchanged and flushes, so that it shows at once.
void PrintText(const char* text);
// count times: pause for delay_ms, then print one dot.
void ShowProgress(int count, DWORD delay_ms);

// One answer line from standard input, without its line end. Gives false
// when the input has ended before a line could be read. A line longer than
// the buffer is read whole and reported with *too_long set.
bool ReadAnswerLine(char* buffer, size_t size, bool* too_long);

// Waits for one key press on the console and takes it without echo. Returns
// at once when standard input is not a console, since no key can come then.
void WaitForKey();
