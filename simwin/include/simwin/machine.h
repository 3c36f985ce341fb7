// The simulated Windows machine behind simwin/api.h: what tests plant, what
// they read back, and how they make calls fail. Test equipment only.
#pragma once

#include "simwin/api.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace sim {

// ---------------------------------------------------------------- Windows kind
enum class Windows {
  Win95, Win98, WinMe, NT351, NT4, Win2000, WinXP, Server2003, XP64, Vista, Win7, Win8, Win10
};

struct VersionState {
  DWORD platform = VER_PLATFORM_WIN32_NT;
  DWORD major = 5, minor = 1, build = 2600;
  bool accepts_ex = true;      // GetVersionExA takes the 156-byte record
  bool windows_64 = false;     // the machine runs 64-bit Windows
  bool process_64 = false;     // the tool itself is a 64-bit program
  WORD native_arch = PROCESSOR_ARCHITECTURE_INTEL;
};

// Puts a fresh machine in place: empty registry and disk except what every
// Windows of that kind has (Program Files value, Windows folders, special
// folders, system DLLs with their entry points). process_64 makes the tool a
// 64-bit program (as the 64-bit build runs under Wine); otherwise a 32-bit
// tool runs under WOW64 on 64-bit Windows.
void Reset(Windows kind = Windows::WinXP, bool windows_64 = false, bool process_64 = false);
// What GetVersionExA reports, for kinds of Windows the presets do not name.
void SetVersion(DWORD platform, DWORD major, DWORD minor, bool accepts_ex);
// The processor GetNativeSystemInfo reports (the presets give AMD64 for
// 64-bit Windows and x86 otherwise); Itanium editions report IA64.
void SetNativeProcessor(WORD architecture);

// ---------------------------------------------------------------- calls
struct Call {
  std::string name;
  std::string args;
};
const std::vector<Call>& Calls();
size_t CountCalls(const std::string& name);
void ClearCalls();
// Called with each call as it is made, before it does anything, so that a
// test can look at the machine (or the console output so far) at that moment.
// Reset removes it.
void ObserveCalls(std::function<void(const Call&)> observer);
// The nth call (1-based) of that name fails with the given error.
void FailCall(const std::string& name, int nth = 1, DWORD error = 0);
// Every call of that name fails.
void FailAlways(const std::string& name, DWORD error = 0);
// Runs action when the nth call (1-based) of that name is entered, before the
// call does anything: for something else on the machine changing meanwhile.
void OnCall(const std::string& name, int nth, std::function<void()> action);
// The nth call of any kind (1-based, counted from the last ClearCalls/Reset).
void FailCallNumber(size_t n);
// How many injected failures have fired.
size_t FaultsFired();
void ClearFaults();

// ---------------------------------------------------------------- loader
// Which DLLs exist and which entry points each exports. Names are compared
// without regard to case; the ".dll" suffix is optional.
void SetDllExports(const std::string& dll, const std::set<std::string>& names);
void RemoveDll(const std::string& dll);
void RemoveExport(const std::string& dll, const std::string& name);
bool HasExport(const std::string& dll, const std::string& name);
// Libraries loaded with LoadLibraryA and not yet freed.
int LoadedCount(const std::string& dll);
int LoadCalls(const std::string& dll);

// Where the loader finds a library. A full path is looked at alone: the
// system folder (of the tool's bitness; with WOW64 redirection off a WOW64
// tool reaches the 64-bit DLLs there, which fail with ERROR_BAD_EXE_FORMAT)
// holds the DLLs above, and a file planted anywhere else with MkFile is
// loaded as a foreign DLL. A name without a path is the module already in
// the process when the exe imports it, and otherwise is looked for in the
// exe's folder, the current folder (before the system folder on 9x, 2000
// and XP, after the Windows folder later) and the system folders.
struct LibraryLoad {
  std::string call;      // LoadLibraryA or LoadLibraryExA
  std::string name;      // as the tool passed it
  DWORD flags = 0;
  std::string loaded;    // the file loaded, "(loaded)" for a module already there, "" when it failed
  bool planted = false;  // a file that is no DLL of the system
};
const std::vector<LibraryLoad>& LibraryLoads();
// The folder of the tool's exe (Reset makes it C:\\tool).
void SetExeDir(const std::string& path);

// ---------------------------------------------------------------- clock, console, debug
uint64_t NowMs();
void SetConsole(bool has_console);
void QueueKey(int key);
size_t KeysLeft();
std::vector<std::string> DebugLines();  // OutputDebugStringA texts, in order
void ClearDebug();

// Runs f with standard input fed from `input` and standard output captured;
// gives the bytes written.
std::string RunWithConsole(const std::string& input, const std::function<void()>& f);
// Runs f as a 64-bit program on 64-bit Windows would run (the native catalog
// through the ordinary Winsock functions, the *32 family exported), as a
// program the tool starts; the tool's own view comes back afterwards.
DWORD RunAs64BitProcess(const std::function<DWORD()>& f);

// ---------------------------------------------------------------- heaps, handles
size_t LiveHeapBlocks();
size_t OpenKernelHandles();  // process and snapshot handles not yet closed
size_t LiveLocalBlocks();

// ---------------------------------------------------------------- registry
// Paths are physical: "HKLM\\SOFTWARE\\Wow6432Node\\Varlume" names the key
// that a 32-bit program on 64-bit Windows sees as HKLM\\SOFTWARE\\Varlume.
void RegCreate(const std::string& path);
void RegSetString(const std::string& path, const std::string& name, const std::string& value);
void RegSetRaw(const std::string& path, const std::string& name, DWORD type,
               const std::vector<uint8_t>& data);
bool RegExists(const std::string& path);
bool RegValueExists(const std::string& path, const std::string& name);
std::vector<uint8_t> RegValueData(const std::string& path, const std::string& name);
std::vector<std::string> RegSubkeys(const std::string& path);
// A registry link at path (with its "SymbolicLinkValue" of type REG_LINK)
// leading to the key at target; opening a path through it leads there.
// A link is made as a new key: a key that stood at path is deleted first.
void RegLink(const std::string& path, const std::string& target);
bool RegIsLink(const std::string& path);
// Deletes the key at path with everything below it, as another program
// would; a link at path goes itself, its target stays. Handles the tool
// holds on any of them see a deleted key.
void RegDelete(const std::string& path);
// Opening the key for anything beyond reading is refused.
void RegDenyWrite(const std::string& path);
// RegDeleteKeyA/SHDeleteKeyA of this key are refused.
void RegDenyDelete(const std::string& path);
size_t RegOpenHandles();
// Number of keys below and including path.
size_t RegCountKeys(const std::string& path);

// ---------------------------------------------------------------- file system
struct FileInfo;
void SetVolume(char drive, const std::string& fs_name);
void MkDir(const std::string& path);             // creates parents as needed
void MkFile(const std::string& path);            // creates parents as needed
// A link at path (a junction or symbolic link when folder, a file symbolic
// link otherwise) pointing at the absolute physical path target, which need
// not exist; parents are made as needed. Windows reports it with FILE_ATTRIBUTE_REPARSE_POINT; paths
// through it lead into the target.
void MkLink(const std::string& path, const std::string& target, bool folder);
bool IsLink(const std::string& path);            // the last name is not followed
bool IsFolder(const std::string& path);          // a link is followed
// Renames a file or folder (with what is below it) to another path.
void MoveNode(const std::string& from, const std::string& to);
bool Exists(const std::string& path);            // physical path, no redirection
void SetInUse(const std::string& path, bool in_use = true);
void SetDenyDelete(const std::string& path, bool deny = true);
// The attributes GetFileAttributesA reports (FILE_ATTRIBUTE_READONLY makes
// DeleteFileA refuse the file).
void SetAttributes(const std::string& path, DWORD attributes);
void SetSpecialFolder(int csidl, const std::string& path);
void SetCurrentDir(const std::string& path);
void SetSystemDirs(const std::string& windows_dir, const std::string& system_dir);
std::vector<std::string> ListTree(const std::string& path);  // every path below, sorted
bool RedirectionDisabled();  // the thread's WOW64 file-system redirection is off now

// ---------------------------------------------------------------- names, handles, other users
// Paths here are physical and in UTF-8; the file system keeps Unicode names.
// The ANSI code page of the "A" calls: 932 (the preset, a Japanese machine)
// or 1252. A name the code page lacks comes back from them in best fit.
void SetAnsiCodePage(UINT code_page);
// A second name for the file at existing (a hard link): both report two
// links and share their attributes.
void MkHardLink(const std::string& path, const std::string& existing);
// The identity of what a path names now (its last name not followed; 0 when
// absent), and whether that file or folder still exists under any name.
uint64_t NodeId(const std::string& path);
bool NodeExists(uint64_t id);
std::string PathOf(uint64_t id);  // where it is now; "" when gone
// Another user of the machine, acting while the tool runs. The user may
// change what lies below the writable folders (a deny of deletion in an
// access list still holds), never what a handle opened without
// FILE_SHARE_DELETE holds (renaming is an open for DELETE), never inside a
// folder whose deletion is pending. Each action tells whether it happened.
void SetUserWritable(const std::vector<std::string>& folders);
bool UserRename(const std::string& from, const std::string& to);
bool UserMkLink(const std::string& path, const std::string& target, bool folder);
// The user opens a file or folder as Windows would let an ordinary user
// (Everyone, Users, Interactive, Authenticated Users; no privileges): the
// access list, the owner's rights and the sharing of every handle open on
// it. The handle stays open until UserCloseAll. Tells whether it opened.
bool UserOpen(const std::string& path, DWORD access, DWORD share);
void UserCloseAll();

// ---------------------------------------------------------------- tokens, owners, other programs
// The tokens whose access the simulated Windows checks. The tool runs as an
// administrator (Reset) or, from a start-up script, as SYSTEM: both hold the
// backup and restore privileges without having them enabled.
extern const char* const kAdministratorSid;
extern const char* const kSystemSid;
extern const char* const kUserSid;  // the ordinary user of UserOpen and the user calls
enum class Caller { kAdministrator, kSystem };
void RunToolAs(Caller caller);
// A tool's token without the two privileges (a Power User's on 2000 or XP).
void SetToolHoldsBackupPrivileges(bool held);
bool ToolPrivilegesEnabled();  // backup or restore enabled in the tool's token now
// Who owns a file or folder: what made it (MkDir, MkFile: the Administrators;
// a user's call: the user), or what a test sets.
void SetOwner(const std::string& path, const std::string& sid);
std::string OwnerOf(const std::string& path);
// Another program (an on-access scanner, an indexer) holds the file or
// folder open for reading, sharing everything, until release_after_ms have
// passed on the clock: a name deleted meanwhile stays pending until then.
void HoldByOtherProgram(const std::string& path, uint64_t release_after_ms);
// The 8.3 name a node has besides its name: paths and opens find it by
// either.
void SetShortName(const std::string& path, const std::string& short_name);

}  // namespace sim
