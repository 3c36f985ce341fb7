// The tool's console: fixed texts out, one answer line in, one key at the end.
#pragma once

#include "platform/win.h"

#include <cstddef>

// Writes the text unchanged and flushes, so that it shows at once.
void PrintText(const char* text);
// count times: pause for delay_ms, then print one dot.
void ShowProgress(int count, DWORD delay_ms);

// One answer line from standard input, without its line end: every byte up
// to the line end or the end of input. Gives false when the input has ended
// before a line could be read. *length is the line's whole length; the
// buffer holds as much of it as fits, terminated. The line may hold NUL
// bytes, so only *length tells where it ends.
bool ReadAnswerLine(char* buffer, size_t size, size_t* length);

// Waits for one key press on the console and takes it without echo. Returns
// at once when standard input is not a console, since no key can come then.
void WaitForKey();
