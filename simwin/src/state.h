// Internal state of the simulated machine, shared by the simwin sources.
#pragma once

#include "simwin/machine.h"

#include <cstdarg>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace sim {
namespace detail {

std::string Upper(const std::string& s);
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Str(const char* s);  // "(null)" for null, else quoted

// Records a call and tells whether an injected fault makes it fail; on a fault
// `error` is replaced by the configured error (when one was configured) and
// the thread's last error is set to it.
bool Enter(const char* name, DWORD& error, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

struct RegValue {
  std::string name;
  DWORD type = REG_SZ;
  std::vector<uint8_t> data;
};
// Shared so that a handle keeps the key it was opened on, also after the key
// has left the tree.
struct RegNode : std::enable_shared_from_this<RegNode> {
  std::string name;
  std::map<std::string, RegValue> values;                  // by upper-case name
  std::map<std::string, std::shared_ptr<RegNode>> subkeys;  // by upper-case name
  bool deny_write = false;
  bool deny_delete = false;
  // A registry link: the physical path of the key it leads to.
  std::string link_target;
  // Where the key stands: its parent (null for a root), or deleted once it
  // has been removed while a handle still refers to it.
  RegNode* parent = nullptr;
  bool deleted = false;
};

// A handle another program holds on a node: its access and sharing, and the
// clock time it closes (0: never).
struct OtherHold {
  DWORD access = 0;
  DWORD share = 0;
  uint64_t until_ms = 0;
  bool by_user = false;  // a user's own open (sim::UserOpen)
};

struct FsNode {
  std::string name;
  std::string short_name;  // the 8.3 name, when it has one besides its name
  bool dir = false;
  DWORD attrs = FILE_ATTRIBUTE_NORMAL;
  bool in_use = false;
  std::vector<OtherHold> holds;
  bool deny_delete = false;
  // A link (a junction, or a symbolic link to a folder or file): the absolute
  // physical path it points at. A link node has no children of its own.
  std::string link_target;
  uint64_t id = 0;  // what a handle opened on the node refers to
  std::map<std::string, std::unique_ptr<FsNode>> children;  // by upper-case name
  // Security descriptor (self-relative bytes, DACL only) when one has been
  // written or inherited; empty: the default of a fresh volume.
  std::vector<uint8_t> security;
  bool dacl_written = false;  // by a test, SetFileSecurityA or SetKernelObjectSecurity
  std::string owner = "S-1-5-32-544";  // the Administrators own what the installer made
  // Version resource as the simulated version library serialises it.
  std::vector<uint8_t> version_block;
  // Names and handles: the name is Unicode (kept as UTF-8); a node whose
  // deletion is pending keeps its name until its last handle closes.
  bool delete_pending = false;
  uint64_t hard_link_group = 0;  // names of one file share it (0: one name)
};

struct OpenKey {
  std::vector<std::string> path;  // logical, as opened; [0] is the root name
  REGSAM access = 0;
  bool open_link = false;  // opened with REG_OPTION_OPEN_LINK: the link itself
  // The key the handle was opened on: Windows keeps it whatever happens to
  // the names on the way to it afterwards.
  std::shared_ptr<RegNode> node;
};

struct Fault {
  std::string name;
  int nth = 0;  // 0: every call
  DWORD error = 0;
};

struct Hook {
  std::string name;
  int nth = 0;
  std::function<void()> action;
};

struct Module {
  std::string name;  // upper-case, without ".DLL"
  std::set<std::string> exports;
};

// A process of the simulated machine. Programs started through the shell and
// the processes a test plants share this table.
struct SimProcess {
  DWORD pid = 0;
  std::string path;             // image path in UTF-8 ("" = unreadable)
  std::string exe_name;         // what the toolhelp snapshot reports
  bool running = true;
  DWORD exit_code = STILL_ACTIVE;
  uint64_t ends_at_ms = 0;      // a started program ends by itself at this clock time
  DWORD exit_code_at_end = 0;
  bool can_open = true;         // OpenProcess succeeds
  DWORD denied_access = 0;      // OpenProcess refuses these rights (open_error)
  DWORD open_error = ERROR_ACCESS_DENIED;
  bool modules_readable = true; // EnumProcessModules succeeds
  bool can_terminate = true;
  DWORD terminate_error = ERROR_ACCESS_DENIED;
  struct Task {
    WORD task = 0;
    std::string file;
  };
  std::vector<Task> tasks;      // 16-bit tasks, for an NTVDM host
  // Which process this is: ids are reused once a process has ended and no
  // handle refers to it any more, serials never.
  uint64_t serial = 0;
  bool is_64 = false;           // a 64-bit program on 64-bit Windows
};

// A kernel handle: a process opened or started, or a toolhelp snapshot.
struct KernelObject {
  enum Kind { kProcess, kSnapshot, kFile, kFind, kToken } kind = kProcess;
  DWORD pid = 0;
  uint64_t process = 0;  // kProcess: the serial of the process opened
  DWORD access = 0;
  uint64_t node = 0;   // kFile: the FsNode's id
  char drive = 'C';    // kFile: the volume the node was opened on
  struct Entry {
    std::string name;
    DWORD attrs = 0;
    DWORD tag = 0;
  };
  std::vector<Entry> entries;  // kFind: the folder's listing
  DWORD share = 0;             // kFile: the sharing it grants others
  bool listing = false;        // kFile: NtQueryDirectoryFile has begun
  bool synchronous = false;    // kFile: opened for synchronous I/O
  std::string opened_name;     // kFile: FileNameInformation's answer, "\\dir\\file" (UTF-8)
  std::string opened_at;       // kFile: where the node was when it was opened
  std::string listed_key;      // kFile: the key of the last entry it gave
  std::vector<DWORD> snapshot;  // process ids, for a snapshot
  size_t cursor = 0;
};

// Who runs a call: the groups of the caller's token, what it owns when it
// creates something, and the backup and restore privileges (held; enabled).
struct Token {
  std::string user;
  std::vector<std::string> groups;
  bool holds_backup = false, holds_restore = false;
  bool backup_on = false, restore_on = false;
  bool Has(const std::string& sid) const;
};

struct State {
  VersionState version;
  Token tool_token;
  Token user_token;
  DWORD last_error = 0;
  std::vector<Call> calls;
  std::function<void(const Call&)> call_observer;
  std::vector<Fault> faults;
  std::vector<Hook> hooks;
  std::map<std::string, int> call_counts;
  size_t fail_call_number = 0;
  size_t faults_fired = 0;

  std::map<std::string, Module> modules;   // by upper-case name
  std::map<std::string, int> loaded;       // live LoadLibraryA references
  std::map<std::string, int> load_calls;
  // Where libraries are found: every load as the tool asked for it, and the
  // folder of the tool's exe, which a name without a path is looked for in
  // first.
  std::vector<LibraryLoad> library_loads;
  std::string exe_dir = "C:\\tool";

  uint64_t now_ms = 0;
  bool has_console = true;
  std::deque<int> keys;
  size_t key_polls = 0;
  std::vector<std::string> debug;

  std::set<void*> heap_blocks;
  std::set<void*> local_blocks;

  std::map<std::string, std::shared_ptr<RegNode>> reg_roots;  // "HKLM", "HKCU"
  std::map<uintptr_t, OpenKey> open_keys;
  uintptr_t next_key = 0x1000;

  std::map<char, std::string> volumes;  // upper-case drive letter -> file system
  std::unique_ptr<FsNode> fs_root;      // children are drives "C:"
  uint64_t next_node_id = 1;
  std::map<int, std::string> special_folders;
  std::string windows_dir = "C:\\WINDOWS";
  std::string system_dir = "C:\\WINDOWS\\system32";
  std::string current_dir = "C:\\";
  bool redirection_disabled = false;
  UINT ansi_code_page = 932;

  std::vector<SimProcess> processes;  // in the order the system lists them
  DWORD next_pid = 1000;
  uint64_t next_process_serial = 1;
  std::map<char, UINT> drive_types;   // GetDriveTypeA answers; DRIVE_FIXED when not set
  std::map<uintptr_t, KernelObject> handles;
  uintptr_t next_handle = 0x2000;
};

SimProcess* FindProcess(DWORD pid);
// The process a handle was opened on, also when its id now names another.
SimProcess* ProcessOf(const KernelObject& object);
HANDLE NewHandle(const KernelObject& object);
KernelObject* FindHandle(HANDLE handle);

State& S();

// Registry helpers.
// Follows registry links in every name, the last one too unless told not to.
RegNode* RegFind(const std::vector<std::string>& path, bool follow_last = true);
std::vector<std::string> SplitPath(const std::string& path);  // by backslash, empty parts dropped

// File-system helpers. Resolve applies the WOW64 System32 redirection of the
// running tool and turns a relative path into an absolute one.
std::string Resolve(const std::string& path);
// FsFind follows links in every name but the last, as Windows does for a
// path; FsFollow follows the last one too. Both give null for a link cycle.
FsNode* FsFind(const std::string& absolute_path);
FsNode* FsFollow(const std::string& absolute_path);
FsNode* FsById(uint64_t id);
bool IsLinkNode(const FsNode& node);
FsNode* FsParent(const std::string& absolute_path, std::string* leaf);
bool FsDeletable(const FsNode& node, bool top_only);

// Names and handles of the file system.
// The "A" calls: the machine's ANSI code page to the UTF-8 kept in nodes, and
// back with Windows' best fit (a character without a counterpart becomes '?').
std::string AnsiToUtf8(const char* ansi, bool* invalid = nullptr);
// defaulted: set when a character had neither a form nor a best fit ('?').
std::string Utf8ToAnsi(const std::string& utf8, bool* defaulted = nullptr);
// The ANSI form of each character that has an exact one, '?' for the others
// (lossy then set).
std::string Utf8ToAnsiExact(const std::string& utf8, bool* lossy);
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const char16_t* text, size_t chars);
// The error a new open with this access and sharing meets from the handles
// already open on the node (and a file held open elsewhere); 0 when none.
DWORD ShareConflict(const FsNode& node, DWORD access, DWORD share);
bool HasOpenHandles(uint64_t id);
// Removes the name, or marks it pending while handles are open on it.
void RemoveName(FsNode* parent, const std::string& key);
// A file handle was closed: a pending deletion completes with the last one.
void FileHandleClosed(const KernelObject& object);
// The node's parent and its key there; null for the root or a lost node.
FsNode* FsParentOf(uint64_t id, std::string* key);
// The physical path of a node ("C:\\..."), "" when it is gone.
std::string FsPathOf(uint64_t id);
// Security (security.cpp). Whether the token gets every right asked for on
// the node, as an open on Windows gives it (the rules and their sources are
// with the definition); backup_intent: the open asked for backup intent.
bool AccessGranted(const FsNode& node, DWORD desired, const Token& token, bool backup_intent);
// Whether an entry of the node's own list that applies to the token denies
// any of the rights.
bool DeniedByList(const FsNode& node, DWORD rights, const Token& token);
// Whether the tool may delete the node by name, as DeleteFileW opens it.
bool DaclAllowsDelete(const FsNode& node);
// A new node takes the inheritable entries of its parent's list; owner is
// the creator's.
void InheritSecurity(FsNode* child, const FsNode& parent, const std::string& owner);
bool NtfsVolumeOf(char drive);
void ResetSecurity();
// Another program's handles: whether one is open on the node, and closing
// those whose time has come (a pending deletion then completes).
bool HeldByOthers(const FsNode& node);
void ReleaseHolds();
void DropHolds(const std::function<bool(const OtherHold&)>& closes);
// The name FileNameInformation gives for a new handle on node: typed is the
// path as opened within its volume ("\\dir\\file"); see files.cpp.
std::string OpenedName(const FsNode& node, const std::string& typed, bool followed, bool last_by_short);
// The child of a folder named by its name or its short name; null if none.
FsNode* FindChild(FsNode* dir, const std::string& name, bool* by_short = nullptr);
// Attributes as reported: the folder bit for folders and links to folders.
DWORD ReportedAttributes(const FsNode& node);
// Hard links: the names of one file, and its attributes set through any one.
DWORD HardLinkCount(const FsNode& node);
void SetFileAttributesOf(FsNode* node, DWORD attrs);

// Entry points the loader hands out by name.
FARPROC ProcByName(const std::string& name);

// Presets of other areas, called from Reset.
void ResetProcesses();
void ResetWinsock();
// Writes the registry copy of a Winsock catalog changed since the last look
// at the registry; every registry look calls it first.
void SyncCatalogKeys();
// Forgets that the catalogs changed since their registry copy was written.
void DropCatalogCopies();
void ResetShell();

}  // namespace detail
}  // namespace sim
