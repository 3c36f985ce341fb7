// Bounded string and path helpers. A result that would not fit its buffer is
// refused (the buffer is left empty and the call gives false); nothing is ever
// cut short, so a refused path can never name another file or folder.
#pragma once

#include <cstddef>

// out = a followed by b. False (out emptied) when it would not fit.
bool ConcatText(char* out, size_t out_size, const char* a, const char* b);
// out = folder + "\\" + name, the tool's "%s\\%s" join.
bool JoinPath(char* out, size_t out_size, const char* folder, const char* name);
// out = text. False (out emptied) when it would not fit.
bool CopyText(char* out, size_t out_size, const char* text);
// Case-insensitive equality for ASCII letters only; other bytes compare exactly.
bool EqualsAsciiNoCase(const char* a, const char* b);
// Lower-cases ASCII capital letters in place; other bytes stay.
void LowerAscii(char* text);
// The last name of an ANSI path: what follows its last backslash, found
// walking character by character (a trail byte of a double-byte character
// of the ANSI code page may be 0x5C); null when the path has no backslash.
const char* LastPathName(const char* path);
// True when the path's file attributes can be read (file or folder).
bool PathExists(const char* path);
