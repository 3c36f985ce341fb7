// Stops the product's two programs, recognised by file name and by the
// maker's name in their version resource.
#pragma once

#include <cstddef>

#include "platform/win.h"

// Terminates every running product program; gives WalkProcesses' result.
int StopProductProcesses();

// The process visitor of StopProductProcesses; always true (go on). A
// process whose file name is a product's, on a local fixed disk, whose
// version resource names the maker, is opened once, confirmed through that
// handle to still run that file (NT) and terminated through it. data is
// StopProductProcesses' own context; with 0 nothing is terminated on NT.
bool TerminateIfProductProcess(DWORD pid, WORD task, const char* path, ULONG_PTR data);

// Copies the non-empty company name of the executable's version resource
// (looked up under the translation that has a FileVersion) into buffer.
// False, buffer untouched, when there is none or it does not fit.
bool ReadCompanyName(const char* path, char* buffer, size_t buffer_size);

// Finds the language and code page under which the block has a FileVersion
// string: first the block's translation list, then the fallback tables below
// (each code page with every language). False, outputs untouched, if none.
bool FindVersionTranslation(const void* block, WORD* language, WORD* code_page);

extern const WORD kFallbackCodePages[12];
extern const WORD kFallbackLanguages[45];

// Prints the system's text for a Win32 error code and a line end; "Error
// <code>" when the system has no text for it.
void PrintSystemErrorText(DWORD code);
