// The diagnostic trace of the LSP removal: one line per event, sent to the
// debug-output service. The formatter knows exactly the conversions the trace
// uses (%d %u %x with an optional zero-padded width, %.Nws) and behaves the
// same in every build; it never writes past its buffer.
#pragma once

#include <cstdarg>
#include <cstddef>

const size_t kTraceBufferSize = 4096;

// Formats into out (size bytes, size >= 1), always zero-terminated; a text
// that does not fit is cut. Wide characters outside ASCII become '?'.
// Gives the number of characters written.
size_t FormatTraceV(char* out, size_t size, const char* format, va_list args);

// Writes one trace line: the formatted text, "\r\n", to OutputDebugStringA.
// A line too long for the 4,096-byte buffer is cut and still ends in "\r\n".
void DebugTrace(const char* format, ...);
