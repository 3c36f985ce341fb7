// Simulated security: tokens, the access check of a file or folder open,
// inheritance, and the security calls over the access list each node keeps.
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

// ---- the access check

// The generic rights of a file or folder ("File Security and Access Rights",
// Microsoft's documentation: FILE_GENERIC_READ and the others).
const DWORD kFileGenericRead = 0x00120089;
const DWORD kFileGenericWrite = 0x00120116;
const DWORD kFileGenericExecute = 0x001200A0;
const DWORD kGenericWrite = 0x40000000;
const DWORD kGenericExecute = 0x20000000;
const DWORD kMaximumAllowed = 0x02000000;
const DWORD kAccessSystemSecurity = 0x01000000;
const DWORD kWriteOwner = 0x00080000;
const DWORD kFileAddFile = 0x0002;
const DWORD kFileAddSubdirectory = 0x0004;
const DWORD kFileTraverse = 0x0020;
const BYTE kNoPropagateInherit = 0x04;
const BYTE kInheritedAce = 0x10;

DWORD MapGeneric(DWORD mask) {
  DWORD out = mask & 0x0FFFFFFF;
  if (mask & GENERIC_READ) out |= kFileGenericRead;
  if (mask & kGenericWrite) out |= kFileGenericWrite;
  if (mask & kGenericExecute) out |= kFileGenericExecute;
  if (mask & GENERIC_ALL) out |= kFileAllAccess;
  return out;
}

bool InToken(const Token& token, const std::string& sid) { return token.Has(sid); }

// What the node's own list grants of `wanted`, entry by entry in list order:
// an allow entry grants its rights, a deny entry refuses those of its rights
// not granted before it (AccessCheck, "How DACLs Control Access to an
// Object", Microsoft's documentation). Entries that only pass on to children
// (INHERIT_ONLY_ACE) do not apply.
bool ListGrants(const FsNode& node, DWORD wanted, const Token& token) {
  const BYTE* acl = NodeDacl(node);
  if (acl == nullptr) return true;  // a null DACL grants everything
  DWORD left = wanted;
  for (const AceEntry& e : AclEntries(acl)) {
    if (left == 0) break;
    if ((e.flags & INHERIT_ONLY_ACE) || !InToken(token, e.sid)) continue;
    DWORD mask = MapGeneric(e.mask);
    if (e.type == ACCESS_DENIED_ACE_TYPE && (mask & left)) return false;
    if (e.type == ACCESS_ALLOWED_ACE_TYPE) left &= ~mask;
  }
  return left == 0;
}

}  // namespace

bool Token::Has(const std::string& sid) const {
  if (sid == user) return true;
  for (const std::string& g : groups)
    if (g == sid) return true;
  return false;
}

bool NtfsVolumeOf(char drive) {
  auto it = S().volumes.find(static_cast<char>(toupper(static_cast<unsigned char>(drive))));
  return it != S().volumes.end() && it->second == "NTFS";
}

// The rules of an open, in this order; sources:
// - the enabled backup privilege grants, with backup intent, every read
//   right, the restore privilege every write right and DELETE ("Privilege
//   Constants", SE_BACKUP_NAME and SE_RESTORE_NAME, Microsoft's
//   documentation); a privilege held but not enabled grants nothing;
// - a volume without security (FAT) checks nothing;
// - the owner gets READ_CONTROL and WRITE_DAC whatever the list says
//   ("Ownership of Objects", Microsoft's documentation);
// - DELETE is granted when the parent folder grants FILE_DELETE_CHILD,
//   whatever the entry's own list says (KB Q238018; "Why can I delete a file
//   I don't have access to?" and "Access to a file's attributes is
//   controlled by two things", The Old New Thing, 2007-07-26 and
//   2015-04-28), and FILE_READ_ATTRIBUTES when the parent grants
//   FILE_LIST_DIRECTORY;
// - every other right asked for, SYNCHRONIZE included, must come from the
//   entry's own list. Generic rights are mapped to the file rights first.
bool AccessGranted(const FsNode& node, DWORD desired, const Token& token, bool backup_intent) {
  if (desired & kMaximumAllowed) {
    fprintf(stderr, "simwin: MAXIMUM_ALLOWED is not simulated\n");
    abort();
  }
  DWORD wanted = MapGeneric(desired);
  DWORD granted = 0;
  if (backup_intent && token.backup_on)
    granted |= wanted & (READ_CONTROL | kAccessSystemSecurity | kFileGenericRead | kFileTraverse);
  if (backup_intent && token.restore_on)
    granted |= wanted & (WRITE_DAC | kWriteOwner | kAccessSystemSecurity | kFileGenericWrite | kFileAddFile |
                         kFileAddSubdirectory | DELETE);
  std::string path = FsPathOf(node.id);
  if (!NtfsVolumeOf(path.empty() ? 'C' : path[0])) return true;
  if (token.Has(node.owner)) granted |= wanted & (READ_CONTROL | WRITE_DAC);
  std::string key;
  const FsNode* parent = FsParentOf(node.id, &key);
  if (parent != nullptr && parent != S().fs_root.get()) {
    if ((wanted & DELETE) && !(granted & DELETE) && ListGrants(*parent, kFileDeleteChild, token)) granted |= DELETE;
    if ((wanted & FILE_READ_ATTRIBUTES) && ListGrants(*parent, FILE_LIST_DIRECTORY, token))
      granted |= FILE_READ_ATTRIBUTES;
  }
  DWORD left = wanted & ~granted;
  return left == 0 || ListGrants(node, left, token);
}

// "ACE Inheritance Rules", Microsoft's documentation: a file takes the
// parent's object-inherit entries as its own; a folder the container-inherit
// ones (inheritable again unless NO_PROPAGATE_INHERIT_ACE), and the
// object-inherit-only ones as inherit-only entries. An entry that is
// effective on the new node has its generic rights mapped; a folder that
// passes on an entry with generic rights gets two, the mapped effective one
// and an inherit-only one that keeps them. Every copy is marked inherited.
void InheritSecurity(FsNode* child, const FsNode& parent, const std::string& owner) {
  child->owner = owner;
  if (parent.security.empty()) return;  // the volume's default, inherited alike
  const BYTE* acl = NodeDacl(parent);
  if (acl == nullptr) return;
  std::vector<AceEntry> out;
  for (const AceEntry& e : AclEntries(acl)) {
    bool oi = (e.flags & OBJECT_INHERIT_ACE) != 0, ci = (e.flags & CONTAINER_INHERIT_ACE) != 0;
    bool np = (e.flags & kNoPropagateInherit) != 0;
    AceEntry copy = e;
    if (!child->dir) {
      if (!oi) continue;
      copy.flags = kInheritedAce;
      copy.mask = MapGeneric(e.mask);
      out.push_back(copy);
    } else if (ci) {
      BYTE passed = static_cast<BYTE>(e.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
      bool generic = MapGeneric(e.mask) != e.mask;
      copy.mask = MapGeneric(e.mask);
      copy.flags = static_cast<BYTE>(kInheritedAce | (np || generic ? 0 : passed));
      out.push_back(copy);
      if (!np && generic) out.push_back({e.type, static_cast<BYTE>(passed | INHERIT_ONLY_ACE | kInheritedAce), e.mask, e.sid});
    } else if (oi && !np) {
      out.push_back({e.type, static_cast<BYTE>(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | kInheritedAce), e.mask, e.sid});
    }
  }
  child->security = SelfRelative(BuildAcl(out).data());
}

bool DeniedByList(const FsNode& node, DWORD rights, const Token& token) {
  const BYTE* acl = NodeDacl(node);
  if (acl == nullptr) return false;
  for (const AceEntry& e : AclEntries(acl))
    if (e.type == ACCESS_DENIED_ACE_TYPE && !(e.flags & INHERIT_ONLY_ACE) && token.Has(e.sid) &&
        (MapGeneric(e.mask) & MapGeneric(rights)))
      return true;
  return false;
}

// Deleting by name, as DeleteFileW opens the name: DELETE and
// FILE_READ_ATTRIBUTES, no backup intent.
bool DaclAllowsDelete(const FsNode& node) {
  return AccessGranted(node, DELETE | FILE_READ_ATTRIBUTES, S().tool_token, false);
}


}  // namespace detail

using namespace detail;

void SetFolderDacl(const std::string& path, const std::vector<AceEntry>& entries) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->security = SelfRelative(BuildAcl(entries).data());
  n->dacl_written = true;
}
void SetDenyDeleteAcl(const std::string& path) {
  SetFolderDacl(path, {{ACCESS_DENIED_ACE_TYPE, 0x03, DELETE | kFileDeleteChild, "S-1-1-0"},
                       {ACCESS_ALLOWED_ACE_TYPE, 0x13, kFileAllAccess, "S-1-5-32-544"}});
}
void SetNullDacl(const std::string& path) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->security = SelfRelative(nullptr);
  n->dacl_written = true;
}
std::vector<AceEntry> FolderDacl(const std::string& path) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  const BYTE* acl = NodeDacl(*n);
  return acl ? AclEntries(acl) : std::vector<AceEntry>();
}
bool HasOwnDacl(const std::string& path) {
  FsNode* n = FsFind(path);
  return n != nullptr && n->dacl_written;
}

const char* const kAdministratorSid = "S-1-5-21-1004336348-1177238915-682003330-500";
const char* const kSystemSid = "S-1-5-18";
const char* const kUserSid = "S-1-5-21-1004336348-1177238915-682003330-1003";

void RunToolAs(Caller caller) {
  Token& t = S().tool_token;
  t = Token{};
  if (caller == Caller::kSystem) {
    t.user = kSystemSid;
    t.groups = {"S-1-5-32-544", "S-1-1-0", "S-1-5-11"};
  } else {
    t.user = kAdministratorSid;
    t.groups = {"S-1-1-0", "S-1-5-32-544", "S-1-5-32-545", "S-1-5-4", "S-1-5-11"};
  }
  // Held by both, enabled by neither ("Privilege Constants": the
  // Administrators hold them; whoami /priv shows them disabled).
  t.holds_backup = t.holds_restore = true;
}
void SetToolHoldsBackupPrivileges(bool held) {
  Token& t = S().tool_token;
  t.holds_backup = t.holds_restore = held;
  if (!held) t.backup_on = t.restore_on = false;
}
bool ToolPrivilegesEnabled() { return S().tool_token.backup_on || S().tool_token.restore_on; }

void SetOwner(const std::string& path, const std::string& sid) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->owner = sid;
}
std::string OwnerOf(const std::string& path) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  return n->owner;
}

}  // namespace sim

namespace sim {
namespace detail {
void ResetSecurity() {
  RunToolAs(Caller::kAdministrator);
  Token& u = S().user_token;
  u = Token{};
  u.user = kUserSid;
  u.groups = {"S-1-1-0", "S-1-5-32-545", "S-1-5-4", "S-1-5-11"};
}
}  // namespace detail
}  // namespace sim

using namespace sim::detail;

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
  node->dacl_written = true;
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
  *ntfs = NtfsVolumeOf(o->drive);
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
  return ReadNodeSecurity(*node, NtfsVolumeOf(full.empty() ? 'C' : full[0]), what, sd, size, needed);
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
  return WriteNodeSecurity(node, NtfsVolumeOf(full.empty() ? 'C' : full[0]), what, sd);
}

// ---------------------------------------------------------------- tokens and privileges

namespace {

const DWORD kTokenAdjustPrivileges = 0x0020;
const DWORD kTokenQuery = 0x0008;
const DWORD kSeBackupLuid = 17;   // SE_BACKUP_PRIVILEGE, ntseapi.h
const DWORD kSeRestoreLuid = 18;  // SE_RESTORE_PRIVILEGE

}  // namespace

BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("OpenProcessToken", err, "%p,access=0x%x", process, access)) return FALSE;
  if (token == nullptr) Crash("OpenProcessToken without a handle");
  if (process != GetCurrentProcess()) return Fail(ERROR_INVALID_HANDLE);
  KernelObject o;
  o.kind = KernelObject::kToken;
  o.access = access;
  *token = NewHandle(o);
  return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
  DWORD err = ERROR_NO_SUCH_PRIVILEGE;
  if (Enter("LookupPrivilegeValueA", err, "%s,%s", Str(system).c_str(), Str(name).c_str())) return FALSE;
  if (name == nullptr || luid == nullptr) Crash("LookupPrivilegeValueA with a null pointer");
  DWORD value = 0;
  if (Upper(name) == "SEBACKUPPRIVILEGE") value = kSeBackupLuid;
  else if (Upper(name) == "SERESTOREPRIVILEGE") value = kSeRestoreLuid;
  else return Fail(ERROR_NO_SUCH_PRIVILEGE);
  luid->LowPart = value;
  luid->HighPart = 0;
  return TRUE;
}

// AdjustTokenPrivileges (Microsoft's documentation): TRUE with
// ERROR_NOT_ALL_ASSIGNED when the token lacks one of them, and the previous
// state of those it changed.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES state, DWORD length,
                           PTOKEN_PRIVILEGES previous, PDWORD return_length) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("AdjustTokenPrivileges", err, "%p,disable_all=%d,count=%u", token, disable_all,
            state ? state->PrivilegeCount : 0))
    return FALSE;
  KernelObject* o = FindHandle(token);
  if (o == nullptr || o->kind != KernelObject::kToken) return Fail(ERROR_INVALID_HANDLE);
  if (!(o->access & kTokenAdjustPrivileges) || (previous != nullptr && !(o->access & kTokenQuery)))
    return Fail(ERROR_ACCESS_DENIED);
  if (disable_all || state == nullptr) Crash("AdjustTokenPrivileges: only enabling or disabling named ones is simulated");
  Token& t = S().tool_token;
  struct Change {
    bool* on;
    bool enable;
    DWORD luid;
  };
  std::vector<Change> changes;
  bool all = true;
  // The records run on past the declared one-element array.
  const LUID_AND_ATTRIBUTES* list = state->Privileges;
  LUID_AND_ATTRIBUTES* out = previous != nullptr ? previous->Privileges : nullptr;
  for (DWORD i = 0; i < state->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& p = list[i];
    bool* on = p.Luid.HighPart != 0 ? nullptr
               : p.Luid.LowPart == kSeBackupLuid && t.holds_backup ? &t.backup_on
               : p.Luid.LowPart == kSeRestoreLuid && t.holds_restore ? &t.restore_on
                                                                     : nullptr;
    if (on == nullptr) {
      all = false;
      continue;
    }
    bool enable = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (*on != enable) changes.push_back({on, enable, p.Luid.LowPart});
  }
  DWORD needed = static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) + changes.size() * sizeof(LUID_AND_ATTRIBUTES));
  if (return_length != nullptr) *return_length = needed;
  if (previous != nullptr) {
    if (length < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    previous->PrivilegeCount = static_cast<DWORD>(changes.size());
    for (size_t i = 0; i < changes.size(); ++i) {
      out[i].Luid.LowPart = changes[i].luid;
      out[i].Luid.HighPart = 0;
      out[i].Attributes = changes[i].enable ? 0 : SE_PRIVILEGE_ENABLED;
    }
  }
  for (const Change& c : changes) *c.on = c.enable;
  S().last_error = all ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED;
  return TRUE;
}
