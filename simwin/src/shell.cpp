// Simulated shell operations (folder deletion, program start) and the
// security calls over the access lists stored with each folder and file.
#include "state.h"

#include "simwin/machine_shell.h"

#include <cstdlib>

namespace sim {
namespace detail {

namespace {

const DWORD kErrorInvalidFlags = 1004;
const DWORD kErrorUnknownRevision = 1305;
const DWORD kErrorRevisionMismatch = 1306;
const DWORD kErrorAllottedSpaceExceeded = 1344;
const WORD kSeDaclPresent = 0x0004;
const WORD kSeDaclDefaulted = 0x0008;
const WORD kSeSelfRelative = 0x8000;
const DWORD kSelfRelativeHeader = 20;  // revision, control, four offsets
const DWORD kFileAllAccess = 0x001F01FF;
const DWORD kFileDeleteChild = 0x00000040;

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

WORD ReadWord(const BYTE* p) {
  WORD w;
  memcpy(&w, p, sizeof w);
  return w;
}
DWORD ReadDword(const BYTE* p) {
  DWORD d;
  memcpy(&d, p, sizeof d);
  return d;
}
void WriteWord(BYTE* p, WORD w) { memcpy(p, &w, sizeof w); }
void WriteDword(BYTE* p, DWORD d) { memcpy(p, &d, sizeof d); }

// ---- SIDs

bool ValidSid(const BYTE* sid) { return sid != nullptr && sid[0] == 1 && sid[1] <= 15; }
DWORD SidLength(const BYTE* sid) { return 8 + 4u * sid[1]; }

std::string SidText(const BYTE* sid) {
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::string s = "S-1-" + std::to_string(authority);
  for (int i = 0; i < sid[1]; ++i) s += "-" + std::to_string(ReadDword(sid + 8 + 4 * i));
  return s;
}

std::vector<BYTE> SidBytes(const std::string& text) {
  std::vector<uint64_t> parts;
  size_t pos = 2;  // after "S-"
  while (pos <= text.size()) {
    size_t dash = text.find('-', pos);
    if (dash == std::string::npos) dash = text.size();
    parts.push_back(strtoull(text.substr(pos, dash - pos).c_str(), nullptr, 10));
    pos = dash + 1;
  }
  if (text.compare(0, 2, "S-") != 0 || parts.size() < 2 || parts.size() > 17) abort();
  std::vector<BYTE> sid(8 + 4 * (parts.size() - 2));
  sid[0] = static_cast<BYTE>(parts[0]);
  sid[1] = static_cast<BYTE>(parts.size() - 2);
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(parts[1] >> (8 * (5 - i)));
  for (size_t i = 2; i < parts.size(); ++i)
    WriteDword(&sid[8 + 4 * (i - 2)], static_cast<DWORD>(parts[i]));
  return sid;
}

// The tool runs as an administrator: these are the groups of its token.
bool InToken(const std::string& sid) {
  return sid == "S-1-1-0" || sid == "S-1-5-32-544" || sid == "S-1-5-11" || sid == "S-1-5-32-545";
}

// ---- ACLs

bool ValidAcl(const BYTE* acl) {
  if (acl == nullptr || acl[0] < 2 || acl[0] > 4) return false;
  WORD size = ReadWord(acl + 2);
  if (size < 8) return false;
  DWORD offset = 8;
  for (WORD i = 0; i < ReadWord(acl + 4); ++i) {
    if (offset + 4 > size) return false;
    WORD ace_size = ReadWord(acl + offset + 2);
    if (ace_size < 4 || ace_size % 4 != 0 || offset + ace_size > size) return false;
    offset += ace_size;
  }
  return true;
}

// Bytes from the ACL start to the end of the last ACE.
DWORD AclBytesInUse(const BYTE* acl) {
  DWORD offset = 8;
  for (WORD i = 0; i < ReadWord(acl + 4); ++i) offset += ReadWord(acl + offset + 2);
  return offset;
}

std::vector<AceEntry> AclEntries(const BYTE* acl) {
  std::vector<AceEntry> out;
  DWORD offset = 8;
  for (WORD i = 0; i < ReadWord(acl + 4); ++i) {
    const BYTE* ace = acl + offset;
    AceEntry e;
    e.type = ace[0];
    e.flags = ace[1];
    e.mask = ReadDword(ace + 4);
    e.sid = SidText(ace + 8);
    out.push_back(e);
    offset += ReadWord(ace + 2);
  }
  return out;
}

std::vector<BYTE> BuildAcl(const std::vector<AceEntry>& entries) {
  std::vector<BYTE> acl(8);
  for (const AceEntry& e : entries) {
    std::vector<BYTE> sid = SidBytes(e.sid);
    size_t at = acl.size();
    acl.resize(at + 8 + sid.size());
    acl[at] = e.type;
    acl[at + 1] = e.flags;
    WriteWord(&acl[at + 2], static_cast<WORD>(8 + sid.size()));
    WriteDword(&acl[at + 4], e.mask);
    memcpy(&acl[at + 8], sid.data(), sid.size());
  }
  acl[0] = ACL_REVISION;
  WriteWord(&acl[2], static_cast<WORD>(acl.size()));
  WriteWord(&acl[4], static_cast<WORD>(entries.size()));
  return acl;
}

// A self-relative descriptor holding only a DACL (null when acl is null).
std::vector<BYTE> SelfRelative(const BYTE* acl) {
  DWORD acl_size = acl ? ReadWord(acl + 2) : 0;
  std::vector<BYTE> sd(kSelfRelativeHeader + acl_size);
  sd[0] = SECURITY_DESCRIPTOR_REVISION;
  WriteWord(&sd[2], kSeSelfRelative | kSeDaclPresent);
  if (acl != nullptr) {
    WriteDword(&sd[16], kSelfRelativeHeader);
    memcpy(&sd[kSelfRelativeHeader], acl, acl_size);
  }
  return sd;
}

// What a folder inherits on a fresh NTFS volume.
const std::vector<BYTE>& DefaultDescriptor() {
  static const std::vector<BYTE>* sd = new std::vector<BYTE>(SelfRelative(
      BuildAcl({{ACCESS_ALLOWED_ACE_TYPE, 0x13, kFileAllAccess, "S-1-5-32-544"},
                {ACCESS_ALLOWED_ACE_TYPE, 0x13, kFileAllAccess, "S-1-5-18"},
                {ACCESS_ALLOWED_ACE_TYPE, 0x13, 0x001200A9, "S-1-5-32-545"}})
          .data()));
  return *sd;
}

// The DACL of a descriptor in either form; false for a malformed one.
bool DescriptorDacl(const BYTE* sd, bool* present, const BYTE** acl, bool* defaulted) {
  if (sd == nullptr || sd[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  WORD control = ReadWord(sd + 2);
  *present = (control & kSeDaclPresent) != 0;
  *defaulted = (control & kSeDaclDefaulted) != 0;
  *acl = nullptr;
  if (!*present) return true;
  if (control & kSeSelfRelative) {
    DWORD offset = ReadDword(sd + 16);
    *acl = offset ? sd + offset : nullptr;
  } else {
    *acl = reinterpret_cast<const BYTE*>(reinterpret_cast<const SECURITY_DESCRIPTOR*>(sd)->Dacl);
  }
  return true;
}

const BYTE* NodeDacl(const FsNode& node) {
  const std::vector<BYTE>& sd = node.security.empty() ? DefaultDescriptor() : node.security;
  bool present = false, defaulted = false;
  const BYTE* acl = nullptr;
  DescriptorDacl(sd.data(), &present, &acl, &defaulted);
  return present ? acl : nullptr;
}

}  // namespace

// Whether the tool's token may delete the node, by the node's own DACL: the
// first entry of the token's groups that names DELETE (or GENERIC_ALL) decides.
bool DaclAllowsDelete(const FsNode& node) {
  const BYTE* acl = NodeDacl(node);
  if (acl == nullptr) return true;  // a null DACL grants everything
  for (const AceEntry& e : AclEntries(acl)) {
    if ((e.flags & INHERIT_ONLY_ACE) || !InToken(e.sid)) continue;
    if (!(e.mask & (DELETE | GENERIC_ALL))) continue;
    if (e.type == ACCESS_DENIED_ACE_TYPE) return false;
    if (e.type == ACCESS_ALLOWED_ACE_TYPE) return true;
  }
  return false;
}

namespace {

bool NtfsVolumeOf(const std::string& full) {
  auto it = S().volumes.find(full.empty() ? 'C' : full[0]);
  return it != S().volumes.end() && it->second == "NTFS";
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

void SetFolderDacl(const std::string& path, const std::vector<AceEntry>& entries) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->security = SelfRelative(BuildAcl(entries).data());
}
void SetDenyDeleteAcl(const std::string& path) {
  SetFolderDacl(path, {{ACCESS_DENIED_ACE_TYPE, 0x03, DELETE | kFileDeleteChild, "S-1-1-0"},
                       {ACCESS_ALLOWED_ACE_TYPE, 0x13, kFileAllAccess, "S-1-5-32-544"}});
}
void SetNullDacl(const std::string& path) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->security = SelfRelative(nullptr);
}
std::vector<AceEntry> FolderDacl(const std::string& path) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  const BYTE* acl = NodeDacl(*n);
  return acl ? AclEntries(acl) : std::vector<AceEntry>();
}
bool HasOwnDacl(const std::string& path) {
  FsNode* n = FsFind(path);
  return n != nullptr && !n->security.empty();
}

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

// ---------------------------------------------------------------- security

namespace {

struct Account {
  const char* name;
  const char* sid;
  const char* domain;
  SID_NAME_USE use;
};
const Account kAccounts[] = {
    {"Everyone", "S-1-1-0", "", SidTypeWellKnownGroup},
    {"Administrators", "S-1-5-32-544", "BUILTIN", SidTypeAlias},
    {"SYSTEM", "S-1-5-18", "NT AUTHORITY", SidTypeWellKnownGroup},
};

BOOL Fail(DWORD error) {
  S().last_error = error;
  return FALSE;
}

[[noreturn]] void Crash(const char* what) {
  fprintf(stderr, "simwin: %s would fault on Windows\n", what);
  abort();
}

}  // namespace

BOOL LookupAccountNameA(LPCSTR system, LPCSTR account, PSID sid, LPDWORD sid_size, LPSTR domain,
                        LPDWORD domain_size, PSID_NAME_USE use) {
  DWORD err = ERROR_NONE_MAPPED;
  if (Enter("LookupAccountNameA", err, "%s,%s,sid_size=%u,domain_size=%u", Str(system).c_str(),
            Str(account).c_str(), sid_size ? *sid_size : 0, domain_size ? *domain_size : 0))
    return FALSE;
  if (account == nullptr || sid_size == nullptr || domain_size == nullptr) Crash("LookupAccountNameA");
  const Account* found = nullptr;
  for (const Account& a : kAccounts)
    if (Upper(a.name) == Upper(account)) found = &a;
  if (found == nullptr) return Fail(ERROR_NONE_MAPPED);
  std::vector<BYTE> bytes = SidBytes(found->sid);
  DWORD domain_len = static_cast<DWORD>(strlen(found->domain));
  if (*sid_size < bytes.size() || *domain_size < domain_len + 1 || sid == nullptr || domain == nullptr) {
    *sid_size = static_cast<DWORD>(bytes.size());
    *domain_size = domain_len + 1;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memcpy(sid, bytes.data(), bytes.size());
  *sid_size = static_cast<DWORD>(bytes.size());
  memcpy(domain, found->domain, domain_len + 1);
  *domain_size = domain_len;
  if (use != nullptr) *use = found->use;
  return TRUE;
}

DWORD GetLengthSid(PSID sid) {
  DWORD err = 0;
  Enter("GetLengthSid", err, "%p", sid);
  if (sid == nullptr) Crash("GetLengthSid(NULL)");
  // Windows reads the count without validating the SID.
  return SidLength(static_cast<const BYTE*>(sid));
}

static BOOL ReadNodeSecurity(const FsNode& node, bool ntfs, SECURITY_INFORMATION what,
                             PSECURITY_DESCRIPTOR sd, DWORD size, LPDWORD needed) {
  std::vector<BYTE> out;
  if (!(what & DACL_SECURITY_INFORMATION)) {
    out = SelfRelative(nullptr);
    WriteWord(&out[2], kSeSelfRelative);
  } else if (!ntfs) {
    // A file system without security gets the world descriptor: a null DACL.
    out = SelfRelative(nullptr);
  } else {
    out = node.security.empty() ? DefaultDescriptor() : node.security;
  }
  *needed = static_cast<DWORD>(out.size());
  if (size < out.size() || sd == nullptr) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(sd, out.data(), out.size());
  return TRUE;
}

static BOOL WriteNodeSecurity(FsNode* node, bool ntfs, SECURITY_INFORMATION what,
                              PSECURITY_DESCRIPTOR sd) {
  bool present = false, defaulted = false;
  const BYTE* acl = nullptr;
  if (!DescriptorDacl(static_cast<const BYTE*>(sd), &present, &acl, &defaulted))
    return Fail(kErrorUnknownRevision);
  if (!(what & DACL_SECURITY_INFORMATION)) return TRUE;
  if (acl != nullptr && !ValidAcl(acl)) return Fail(ERROR_INVALID_ACL);
  // A file system without security accepts the call and keeps nothing.
  if (!ntfs) return TRUE;
  if (!present) return Fail(ERROR_INVALID_SECURITY_DESCR);
  node->security = SelfRelative(acl);
  return TRUE;
}

// The node a file handle was opened on, when the handle carries the access.
static FsNode* HandleNode(HANDLE object, DWORD access, bool* ntfs) {
  KernelObject* o = FindHandle(object);
  if (o == nullptr || o->kind != KernelObject::kFile) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((o->access & access) != access) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  FsNode* node = FsById(o->node);
  if (node == nullptr) Fail(ERROR_ACCESS_DENIED);  // deleted while open
  *ntfs = NtfsVolumeOf(std::string(1, o->drive));
  return node;
}

// By path, the security calls act on what a link in the last name points at.
BOOL GetFileSecurityA(LPCSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR sd, DWORD size,
                      LPDWORD needed) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetFileSecurityA", err, "%s,what=0x%x,size=%u", Str(path).c_str(), what, size))
    return FALSE;
  if (needed == nullptr) Crash("GetFileSecurityA without a size");
  std::string full = Resolve(AnsiToUtf8(path));
  FsNode* node = FsFollow(full);
  if (node == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  return ReadNodeSecurity(*node, NtfsVolumeOf(full), what, sd, size, needed);
}

BOOL GetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR sd,
                             DWORD size, LPDWORD needed) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetKernelObjectSecurity", err, "%p,what=0x%x,size=%u", object, what, size)) return FALSE;
  if (needed == nullptr) Crash("GetKernelObjectSecurity without a size");
  bool ntfs = false;
  FsNode* node = HandleNode(object, READ_CONTROL, &ntfs);
  if (node == nullptr) return FALSE;
  return ReadNodeSecurity(*node, ntfs, what, sd, size, needed);
}

BOOL SetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR sd) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("SetKernelObjectSecurity", err, "%p,what=0x%x", object, what)) return FALSE;
  bool ntfs = false;
  FsNode* node = HandleNode(object, WRITE_DAC, &ntfs);
  if (node == nullptr) return FALSE;
  return WriteNodeSecurity(node, ntfs, what, sd);
}

BOOL RemoveDirectoryA(LPCSTR path) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RemoveDirectoryA", err, "%s", Str(path).c_str())) return FALSE;
  std::string leaf;
  std::string full = Resolve(AnsiToUtf8(path));
  FsNode* parent = FsParent(full, &leaf);
  FsNode* node = parent ? FsFind(full) : nullptr;
  // A link in the last name is removed itself; its target is not touched.
  if (node == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  if (!node->dir) return Fail(ERROR_DIRECTORY);
  if (!node->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY);
  if (DWORD e = BlockedBy(*node)) return Fail(e);
  RemoveName(parent, leaf);
  return TRUE;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) {
  DWORD err = ERROR_INVALID_PARAMETER;
  if (Enter("InitializeSecurityDescriptor", err, "rev=%u", revision)) return FALSE;
  if (revision != SECURITY_DESCRIPTOR_REVISION) return Fail(kErrorUnknownRevision);
  memset(sd, 0, sizeof(SECURITY_DESCRIPTOR));
  static_cast<SECURITY_DESCRIPTOR*>(sd)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL present, PACL* dacl, LPBOOL defaulted) {
  DWORD err = ERROR_INVALID_SECURITY_DESCR;
  if (Enter("GetSecurityDescriptorDacl", err, "%p", sd)) return FALSE;
  if (sd == nullptr || present == nullptr || dacl == nullptr || defaulted == nullptr)
    Crash("GetSecurityDescriptorDacl with a null pointer");
  bool is_present = false, is_defaulted = false;
  const BYTE* acl = nullptr;
  if (!DescriptorDacl(static_cast<const BYTE*>(sd), &is_present, &acl, &is_defaulted))
    return Fail(kErrorUnknownRevision);
  *present = is_present ? TRUE : FALSE;
  if (is_present) {
    *dacl = reinterpret_cast<PACL>(const_cast<BYTE*>(acl));
    *defaulted = is_defaulted ? TRUE : FALSE;
  }
  return TRUE;
}

BOOL GetAclInformation(PACL acl, LPVOID info, DWORD size, ACL_INFORMATION_CLASS cls) {
  DWORD err = ERROR_INVALID_PARAMETER;
  if (Enter("GetAclInformation", err, "%p,size=%u,class=%d", static_cast<void*>(acl), size,
            static_cast<int>(cls)))
    return FALSE;
  if (acl == nullptr || info == nullptr) Crash("GetAclInformation with a null pointer");
  const BYTE* a = reinterpret_cast<const BYTE*>(acl);
  if (cls == AclSizeInformation) {
    if (size < sizeof(ACL_SIZE_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    ACL_SIZE_INFORMATION out;
    out.AceCount = ReadWord(a + 4);
    out.AclBytesInUse = AclBytesInUse(a);
    out.AclBytesFree = ReadWord(a + 2) - out.AclBytesInUse;
    memcpy(info, &out, sizeof out);
    return TRUE;
  }
  if (cls == AclRevisionInformation) {
    if (size < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    DWORD revision = a[0];
    memcpy(info, &revision, sizeof revision);
    return TRUE;
  }
  return Fail(ERROR_INVALID_PARAMETER);
}

BOOL InitializeAcl(PACL acl, DWORD size, DWORD revision) {
  DWORD err = ERROR_INVALID_PARAMETER;
  if (Enter("InitializeAcl", err, "%p,size=%u,rev=%u", static_cast<void*>(acl), size, revision))
    return FALSE;
  if (revision < 2 || revision > 4) return Fail(ERROR_INVALID_PARAMETER);
  if (size < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (size > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
  BYTE header[8] = {static_cast<BYTE>(revision), 0, 0, 0, 0, 0, 0, 0};
  WriteWord(header + 2, static_cast<WORD>(size));
  memcpy(acl, header, sizeof header);
  return TRUE;
}

BOOL AddAccessAllowedAceEx(PACL acl, DWORD revision, DWORD flags, DWORD mask, PSID sid) {
  DWORD err = ERROR_INVALID_PARAMETER;
  if (Enter("AddAccessAllowedAceEx", err, "%p,rev=%u,flags=0x%x,mask=0x%x", static_cast<void*>(acl),
            revision, flags, mask))
    return FALSE;
  BYTE* a = reinterpret_cast<BYTE*>(acl);
  if (!ValidAcl(a)) return Fail(ERROR_INVALID_ACL);
  if (revision < 2 || revision > 4) return Fail(kErrorRevisionMismatch);
  if (flags & ~0x1Fu) return Fail(kErrorInvalidFlags);
  const BYTE* s = static_cast<const BYTE*>(sid);
  if (!ValidSid(s)) return Fail(ERROR_INVALID_SID);
  DWORD end = AclBytesInUse(a);
  DWORD ace_size = 8 + SidLength(s);
  if (end + ace_size > ReadWord(a + 2)) return Fail(kErrorAllottedSpaceExceeded);
  BYTE* ace = a + end;
  ace[0] = ACCESS_ALLOWED_ACE_TYPE;
  ace[1] = static_cast<BYTE>(flags);
  WriteWord(ace + 2, static_cast<WORD>(ace_size));
  WriteDword(ace + 4, mask);
  memcpy(ace + 8, s, SidLength(s));
  WriteWord(a + 4, static_cast<WORD>(ReadWord(a + 4) + 1));
  if (revision > a[0]) a[0] = static_cast<BYTE>(revision);
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl, BOOL defaulted) {
  DWORD err = ERROR_INVALID_SECURITY_DESCR;
  if (Enter("SetSecurityDescriptorDacl", err, "%p,present=%d,%p,defaulted=%d", sd, present,
            static_cast<void*>(dacl), defaulted))
    return FALSE;
  SECURITY_DESCRIPTOR* d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  if (d->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(kErrorUnknownRevision);
  if (d->Control & kSeSelfRelative) return Fail(ERROR_INVALID_SECURITY_DESCR);
  d->Control = static_cast<WORD>(d->Control & ~(kSeDaclPresent | kSeDaclDefaulted));
  d->Dacl = nullptr;
  if (present) {
    d->Control = static_cast<WORD>(d->Control | kSeDaclPresent | (defaulted ? kSeDaclDefaulted : 0));
    d->Dacl = dacl;
  }
  return TRUE;
}

BOOL SetFileSecurityA(LPCSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR sd) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("SetFileSecurityA", err, "%s,what=0x%x", Str(path).c_str(), what)) return FALSE;
  std::string full = Resolve(AnsiToUtf8(path));
  FsNode* node = FsFollow(full);
  if (node == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  return WriteNodeSecurity(node, NtfsVolumeOf(full), what, sd);
}
