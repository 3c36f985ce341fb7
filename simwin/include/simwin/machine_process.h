// Test controls for the simulated processes, version resources and system
// message texts. Test equipment only.
#pragma once

#include "simwin/machine.h"

#include <string>
#include <utility>
#include <vector>

namespace sim {

// ---------------------------------------------------------------- version resources
// One StringFileInfo table: its language and code page and its name/value
// strings, in order.
struct VersionStringTable {
  WORD language = 0x0409;
  WORD code_page = 0x04b0;
  std::vector<std::pair<std::string, std::string>> strings;
};
struct VersionResource {
  bool has_translation_list = true;
  std::vector<std::pair<WORD, WORD>> translations;  // language, code page
  std::vector<VersionStringTable> tables;
};

// A resource with FileVersion and CompanyName in one table, listed in the
// translation list.
VersionResource MakerVersion(const std::string& company, WORD language = 0x0411,
                             WORD code_page = 0x04b0);
// Creates the file when needed and gives it this version resource.
void SetVersionResource(const std::string& path, const VersionResource& resource);

// ---------------------------------------------------------------- processes
constexpr DWORD kNextPid = 0xFFFFFFFFu;

struct PlantedProcess {
  std::string path;      // its image path (UTF-8; the "A" calls give it in the ANSI code page); "" = unreadable
  std::string exe_name;  // what the toolhelp snapshot reports (UTF-8, given in ANSI); "" = path
  DWORD pid = kNextPid;  // kNextPid picks the next free id
  bool can_open = true;
  DWORD denied_access = 0;  // OpenProcess refuses a request for any of these
  DWORD open_error = ERROR_ACCESS_DENIED;
  bool modules_readable = true;
  bool can_terminate = true;
  DWORD terminate_error = ERROR_ACCESS_DENIED;
  std::vector<std::pair<WORD, std::string>> tasks;  // 16-bit task handle, file name
  bool is_64 = false;  // a 64-bit program (on 64-bit Windows only)
};

// Starts a process (listed after the ones already running); gives its id.
// A given pid may be one whose process has ended and that no handle refers
// to any more: Windows reuses such ids.
DWORD AddProcess(const PlantedProcess& planted);
// Shorthand: a process with that module path.
DWORD AddProcess(const std::string& path);
bool IsRunning(DWORD pid);
// The process ends by itself (a crash, its own exit) with that exit code.
void EndProcess(DWORD pid, DWORD exit_code = 0);
// What GetDriveTypeA reports for a drive of the machine (DRIVE_FIXED unless
// set; a drive letter mapped to a share is DRIVE_REMOTE).
void SetDriveType(char drive, UINT type);
DWORD ProcessExitCode(DWORD pid);  // STILL_ACTIVE while running

// ---------------------------------------------------------------- message texts
// FormatMessageA texts of system error codes. Reset plants a few common ones
// (2, 5, 6, 87, 299) with Windows' English wording.
void SetMessageText(DWORD code, const std::string& text);
void RemoveMessageText(DWORD code);

}  // namespace sim
