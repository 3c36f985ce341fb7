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
// The file came with a download: its Zone.Identifier names the zone (3 the
// Internet, 4 a restricted site), and ShellExecuteExA without
// SEE_MASK_NOZONECHECKS shows the security warning before it starts it.
void MarkDownloaded(const std::string& path, int zone = 3);

// ---------------------------------------------------------------- dialogs
// A dialog of the shell's (a confirmation, an error message, a security
// warning) waits for an answer that an unattended run never gets: the
// simulated machine stops the run there (abort) unless the test called
// RecordDialogs, which keeps each one in Dialogs() and takes it as closed
// with its cancel button. Reset goes back to stopping.
void RecordDialogs();
const std::vector<std::string>& Dialogs();
// Progress windows the shell showed (SHFileOperationA without FOF_SILENT):
// seen on the screen, but waiting for nobody.
const std::vector<std::string>& ProgressWindows();

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
