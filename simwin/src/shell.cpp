// Simulated shell operations: folder deletion and program start.
#include "state.h"

#include "simwin/machine_shell.h"

#include <cstdlib>

namespace sim {
namespace detail {

namespace {

struct ShellState {
  std::map<std::string, ProgramHandler> programs;  // by upper-case resolved path
  std::map<std::string, DWORD> run_ms;              // how long each one runs
  std::vector<ProgramStart> starts;
  std::map<std::string, int> zones;                 // Zone.Identifier by upper-case resolved path
  bool record_dialogs = false;
  std::vector<std::string> dialogs;
  std::vector<std::string> progress_windows;
};

ShellState& Shell() {
  static ShellState* s = new ShellState();
  return *s;
}

// A modal dialog of the shell's. Nobody answers an unattended run, so on
// Windows the call would never return: unless the test asked to see the
// dialogs, the run ends here, as one that would wait for ever. A recorded
// dialog is taken as closed with its cancel (or only) button.
void ShowDialog(const std::string& what) {
  if (!Shell().record_dialogs) {
    fprintf(stderr, "simwin: %s: a dialog that nobody answers; the run would wait for ever\n", what.c_str());
    abort();
  }
  Shell().dialogs.push_back(what);
}

// What keeps a delete of the node (an open for DELETE sharing everything, as
// DeleteFileW makes it) from going through.
DWORD BlockedBy(const FsNode& node) {
  if (node.delete_pending) return ERROR_ACCESS_DENIED;
  if (DWORD e = ShareConflict(node, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) return e;
  if (node.deny_delete || !DaclAllowsDelete(node)) return ERROR_ACCESS_DENIED;
  return 0;
}

// The shell of Windows 2000, XP and Server 2003 lists a folder link like any
// folder and deletes what it finds inside, in the link's target; then the
// link itself goes. Later shells remove the link alone.
bool ShellFollowsLinks() {
  const VersionState& v = S().version;
  return v.platform == VER_PLATFORM_WIN32_NT && v.major == 5;
}
// Nesting beyond this through links ends with a path too long to name.
const int kMaxShellDepth = 120;

// Deletes the children of node depth-first, in listing order, then reports
// whether node itself can go; stops at the first item that cannot.
DWORD DeleteChildren(FsNode* node, int depth) {
  if (depth > kMaxShellDepth) return ERROR_FILENAME_EXCED_RANGE;
  if (IsLinkNode(*node)) {
    if (!node->dir || !ShellFollowsLinks()) return 0;
    FsNode* target = FsFollow(node->link_target);
    return target != nullptr && target->dir ? DeleteChildren(target, depth + 1) : 0;
  }
  for (auto it = node->children.begin(); it != node->children.end();) {
    FsNode* child = it->second.get();
    if (DWORD e = DeleteChildren(child, depth + 1)) return e;
    if (DWORD e = BlockedBy(*child)) return e;
    std::string key = (it++)->first;
    RemoveName(node, key);
  }
  // A name whose deletion is pending stays until its last handle closes.
  return node->children.empty() ? 0 : ERROR_DIR_NOT_EMPTY;
}

}  // namespace

bool FsDeletable(const FsNode& node, bool top_only) {
  if (BlockedBy(node) != 0) return false;
  if (top_only) return true;
  for (auto& c : node.children)
    if (!FsDeletable(*c.second, false)) return false;
  return true;
}

void ResetShell() {
  Shell().programs.clear();
  Shell().run_ms.clear();
  Shell().starts.clear();
  Shell().zones.clear();
  Shell().record_dialogs = false;
  Shell().dialogs.clear();
  Shell().progress_windows.clear();
}

}  // namespace detail

using namespace detail;

void RegisterProgram(const std::string& path, ProgramHandler handler, DWORD run_ms) {
  Shell().programs[Upper(Resolve(path))] = std::move(handler);
  Shell().run_ms[Upper(Resolve(path))] = run_ms;
}
const std::vector<ProgramStart>& ProgramStarts() { return Shell().starts; }
void MarkDownloaded(const std::string& path, int zone) { Shell().zones[Upper(Resolve(path))] = zone; }
void RecordDialogs() { Shell().record_dialogs = true; }
const std::vector<std::string>& Dialogs() { return Shell().dialogs; }
const std::vector<std::string>& ProgressWindows() { return Shell().progress_windows; }

}  // namespace sim

using namespace sim::detail;

// ---------------------------------------------------------------- shell

// Each flag as Microsoft's SHFILEOPSTRUCT page gives it, and as Wine's
// shell32 (shlfileop.c, delete_files and confirm_delete_list) asks:
// - without FOF_NOCONFIRMATION the shell asks before it deletes ("Are you
//   sure you want to delete ...?"; also for a read-only or system file
//   inside a folder); the flag answers "Yes to All";
// - without FOF_NOERRORUI an item that cannot go (in use, refused, missing)
//   shows the shell's error message, which waits for its OK; with it the
//   call gives the error alone;
// - FOF_SILENT hides the progress window, which waits for nobody (it is
//   kept in ProgressWindows, never stops the run);
// - FOF_NOCONFIRMMKDIR concerns a copy or move that must create a folder;
//   only FO_DELETE is modelled, which creates none.
// Wine shows no error message at all; Windows does, so the simulation does.
int SHFileOperationA(LPSHFILEOPSTRUCTA op) {
  DWORD err = ERROR_ACCESS_DENIED;
  std::string from;
  if (op != nullptr && op->pFrom != nullptr) {
    for (const char* p = op->pFrom; *p != '\0'; p += strlen(p) + 1) from += std::string(from.empty() ? "" : "|") + p;
  }
  if (Enter("SHFileOperationA", err, "func=%u,flags=0x%x,from=%s", op ? op->wFunc : 0,
            op ? op->fFlags : 0, from.c_str()))
    return static_cast<int>(err);
  if (op == nullptr || op->wFunc != FO_DELETE || op->pFrom == nullptr) return ERROR_INVALID_PARAMETER;
  op->fAnyOperationsAborted = FALSE;
  if (!(op->fFlags & FOF_SILENT)) Shell().progress_windows.push_back("SHFileOperationA: deleting " + from);
  if (!(op->fFlags & FOF_NOCONFIRMATION)) {
    ShowDialog("SHFileOperationA: the confirmation of deleting " + from);
    op->fAnyOperationsAborted = TRUE;
    return ERROR_CANCELLED;
  }
  // Items go in list order; one that cannot go ends the operation with the
  // items before it (and the deletable part of its own tree) already gone.
  DWORD result = 0;
  for (const char* p = op->pFrom; *p != '\0' && result == 0; p += strlen(p) + 1) {
    std::string leaf;
    // The shell works on Unicode names: the list is converted once.
    std::string full = Resolve(AnsiToUtf8(p));
    FsNode* parent = FsParent(full, &leaf);
    FsNode* node = parent ? FsFind(full) : nullptr;
    if (node == nullptr) result = ERROR_FILE_NOT_FOUND;
    else if (DWORD e = DeleteChildren(node, 0)) result = e;
    else if (DWORD e2 = BlockedBy(*node)) result = e2;
    else RemoveName(parent, leaf);
  }
  if (result != 0 && !(op->fFlags & FOF_NOERRORUI))
    ShowDialog("SHFileOperationA: the error message of deleting " + from + " (error " + std::to_string(result) + ")");
  return static_cast<int>(result);
}

BOOL ShellExecuteExA(LPSHELLEXECUTEINFOA info) {
  DWORD err = ERROR_FILE_NOT_FOUND;
  if (info == nullptr) abort();
  sim::ProgramStart start;
  start.verb = info->lpVerb ? info->lpVerb : "(null)";
  start.file = info->lpFile ? info->lpFile : "(null)";
  start.parameters = info->lpParameters ? info->lpParameters : "(null)";
  start.show = info->nShow;
  start.mask = info->fMask;
  start.directory = info->lpDirectory ? info->lpDirectory : "(null)";
  start.has_owner = info->hwnd != nullptr;
  Shell().starts.push_back(start);
  if (Enter("ShellExecuteExA", err, "verb=%s,file=%s,params=%s,show=%d,mask=0x%x",
            Str(info->lpVerb).c_str(), Str(info->lpFile).c_str(), Str(info->lpParameters).c_str(),
            info->nShow, static_cast<unsigned>(info->fMask)))
    return FALSE;
  info->hProcess = nullptr;
  if (info->cbSize != sizeof(SHELLEXECUTEINFOA) || info->lpFile == nullptr) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  // Microsoft's SHELLEXECUTEINFO page: without SEE_MASK_FLAG_NO_UI an error
  // is shown in a message box; without SEE_MASK_NOZONECHECKS a file whose
  // Zone.Identifier names the Internet or a restricted zone (one that came
  // with a download) is first shown in the "Open File - Security Warning"
  // of the attachment services (IAttachmentExecute). Each waits for an
  // answer.
  auto fail = [info](DWORD error, const std::string& what) {
    S().last_error = error;
    if (!(info->fMask & SEE_MASK_FLAG_NO_UI)) ShowDialog("ShellExecuteExA: the error message " + what);
    return FALSE;
  };
  std::string full = Resolve(AnsiToUtf8(info->lpFile));
  FsNode* node = FsFind(full);
  if (node == nullptr || node->dir) {
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(2));  // SE_ERR_FNF
    return fail(ERROR_FILE_NOT_FOUND, "that " + std::string(info->lpFile) + " cannot be found");
  }
  auto zone = Shell().zones.find(Upper(full));
  if (zone != Shell().zones.end() && zone->second >= 3 && !(info->fMask & SEE_MASK_NOZONECHECKS)) {
    ShowDialog("ShellExecuteExA: the Open File - Security Warning of " + std::string(info->lpFile));
    S().last_error = ERROR_CANCELLED;
    return FALSE;
  }
  auto it = Shell().programs.find(Upper(full));
  if (it == Shell().programs.end()) return fail(ERROR_BAD_FORMAT, "that " + std::string(info->lpFile) + " is no program");
  DWORD exit_code = it->second(info->lpParameters ? info->lpParameters : "");
  SimProcess p;
  p.pid = S().next_pid++;
  p.path = full;
  p.exe_name = node->name;
  DWORD run_ms = Shell().run_ms[Upper(full)];
  p.running = run_ms != 0;
  p.exit_code = run_ms != 0 ? STILL_ACTIVE : exit_code;
  p.ends_at_ms = S().now_ms + run_ms;
  p.exit_code_at_end = exit_code;
  S().processes.push_back(p);
  info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(33));
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
    KernelObject o;
    o.kind = KernelObject::kProcess;
    o.pid = p.pid;
    o.access = 0x1F0FFF;
    info->hProcess = NewHandle(o);
  }
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RemoveDirectoryA", err, "%s", Str(path).c_str())) return FALSE;
  std::string leaf;
  std::string full = Resolve(AnsiToUtf8(path));
  FsNode* parent = FsParent(full, &leaf);
  FsNode* node = parent ? FsFind(full) : nullptr;
  // A link in the last name is removed itself; its target is not touched. A
  // read-only folder is refused like a read-only file (fastfat's
  // FatSetDispositionInfo; the same answer from NTFS in dotnet/runtime#98807).
  DWORD fail = 0;
  if (node == nullptr) fail = ERROR_FILE_NOT_FOUND;
  else if (!node->dir) fail = ERROR_DIRECTORY;
  else if (!node->children.empty()) fail = ERROR_DIR_NOT_EMPTY;
  else if (node->attrs & FILE_ATTRIBUTE_READONLY) fail = ERROR_ACCESS_DENIED;
  else fail = BlockedBy(*node);
  if (fail != 0) {
    S().last_error = fail;
    return FALSE;
  }
  RemoveName(parent, leaf);
  return TRUE;
}
