// Helpers shared by the host tests.
#pragma once

#include "simwin/machine.h"

#include <string>

// The code page 932 bytes of a UTF-8 text, converted by iconv, independently
// of the compiler's conversion of the tool's own literals.
std::string Cp932(const std::string& utf8);

struct RunResult {
  int exit_code = -1;
  std::string out;  // standard output bytes
};
// Runs the whole tool with the given standard input.
RunResult RunTool(const std::string& input);

// Opens name (ASCII) below the folder at path with NtOpenFile, never following a
// link in the name, as the tool opens what it deletes; *out receives the
// handle (the caller closes it). Gives the status.
NTSTATUS NtOpenBelow(const std::string& folder, const std::string& name, ACCESS_MASK access, ULONG share,
                     ULONG options, HANDLE* out);

// The run's shared advapi32 handle (files/acl.h), loaded for the span of a
// test as the run loads it before its first step.
struct AdvapiLoaded {
  AdvapiLoaded();
  ~AdvapiLoaded();
};
