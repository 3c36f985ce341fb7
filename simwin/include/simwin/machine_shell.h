// Test controls of the simulated shell and access lists: programs that
// ShellExecuteExA can start, folder DACLs to plant and read back.
#pragma once

#include "simwin/machine.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

// ---------------------------------------------------------------- programs
// A program at a path (as the tool names it; System32 redirection applies).
// ShellExecuteExA of an existing file with a handler runs the handler with the
// parameters and gives a process that ends with the handler's exit code
// run_ms later on the virtual clock (at once when run_ms is 0). The file
// itself must be planted with MkFile.
using ProgramHandler = std::function<DWORD(const std::string& parameters)>;
void RegisterProgram(const std::string& path, ProgramHandler handler, DWORD run_ms = 0);

struct ProgramStart {
  std::string verb;
  std::string file;
  std::string parameters;
  int show = -1;
  ULONG mask = 0;
  std::string directory;
  bool has_owner = false;
};
// Every ShellExecuteExA call, in order, whether it started anything or not.
const std::vector<ProgramStart>& ProgramStarts();

// ---------------------------------------------------------------- access lists
struct AceEntry {
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  BYTE flags = 0;
  DWORD mask = 0;
  std::string sid;  // "S-1-1-0"
  bool operator==(const AceEntry& o) const {
    return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
  }
};
// Replaces the node's DACL (stored as Windows lays it out). The path is physical.
void SetFolderDacl(const std::string& path, const std::vector<AceEntry>& entries);
// A DACL that denies Everyone deletion of the folder, then grants the
// administrators full access: the shell cannot delete the folder.
void SetDenyDeleteAcl(const std::string& path);
// A descriptor whose DACL is null: everyone has every access.
void SetNullDacl(const std::string& path);
// The entries of the node's DACL as GetFileSecurityA would report them
// (a node never written reports the default inherited entries).
std::vector<AceEntry> FolderDacl(const std::string& path);
// True when the node has had a DACL written (by a test or SetFileSecurityA).
bool HasOwnDacl(const std::string& path);

}  // namespace sim
