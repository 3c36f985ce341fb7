// Simulated disk: volumes, folders and files, the special folders, the system
// folders and the WOW64 redirection of System32.
#include "state.h"

#include <algorithm>

namespace sim {
namespace detail {

static std::string DriveOf(const std::string& dir) {
  return dir.size() >= 2 && dir[1] == ':' ? Upper(dir.substr(0, 2)) : "C:";
}

std::string Resolve(const std::string& path) {
  State& st = S();
  std::string full;
  if (path.size() >= 2 && path[1] == ':') {
    full = path;
  } else if (!path.empty() && path[0] == '\\') {
    full = DriveOf(st.current_dir) + path;
  } else {
    full = st.current_dir + "\\" + path;
  }
  std::vector<std::string> parts;
  for (const std::string& p : SplitPath(full)) {
    if (p == ".") continue;
    if (p == "..") {
      if (parts.size() > 1) parts.pop_back();
      continue;
    }
    parts.push_back(p);
  }
  if (parts.empty()) return "";
  parts[0] = Upper(parts[0]);
  std::string r;
  for (size_t i = 0; i < parts.size(); ++i) r += (i ? "\\" : "") + parts[i];
  const VersionState& v = st.version;
  if (v.windows_64 && !v.process_64 && !st.redirection_disabled) {
    std::string sys = Upper(st.windows_dir + "\\System32");
    std::string ur = Upper(r);
    if (ur == sys || (ur.size() > sys.size() && ur.compare(0, sys.size(), sys) == 0 && ur[sys.size()] == '\\'))
      r = st.windows_dir + "\\SysWOW64" + r.substr(sys.size());
  }
  return r;
}

// Windows gives up after this many reparse points in one path.
static const int kMaxLinkHops = 63;

// A name finds a child by its name or by its 8.3 name (both compared
// without regard to case).
FsNode* FindChild(FsNode* dir, const std::string& name, bool* by_short) {
  if (by_short != nullptr) *by_short = false;
  auto it = dir->children.find(Upper(name));
  if (it != dir->children.end()) return it->second.get();
  for (auto& c : dir->children)
    if (!c.second->short_name.empty() && Upper(c.second->short_name) == Upper(name)) {
      if (by_short != nullptr) *by_short = true;
      return c.second.get();
    }
  return nullptr;
}

// How a path was resolved: whether a link was followed on the way and
// whether its last name was matched by an 8.3 name.
struct Resolution {
  bool followed = false;
  bool last_by_short = false;
};

static FsNode* Walk(const std::string& absolute_path, bool follow_last, int hops, Resolution* how = nullptr) {
  std::vector<std::string> parts = SplitPath(absolute_path);
  if (parts.empty() || !S().fs_root) return nullptr;
  FsNode* node = S().fs_root.get();
  for (size_t i = 0; i < parts.size(); ++i) {
    bool by_short = false;
    node = FindChild(node, parts[i], &by_short);
    if (node == nullptr) return nullptr;
    bool last = i + 1 == parts.size();
    if (last && how != nullptr) how->last_by_short = by_short;
    if (IsLinkNode(*node) && (!last || follow_last)) {
      if (hops >= kMaxLinkHops) return nullptr;
      if (how != nullptr) how->followed = true;
      std::string rest = node->link_target;
      for (size_t j = i + 1; j < parts.size(); ++j) rest += "\\" + parts[j];
      return Walk(rest, follow_last, hops + 1, how);
    }
  }
  return node;
}

bool IsLinkNode(const FsNode& node) { return !node.link_target.empty(); }
FsNode* FsFind(const std::string& absolute_path) { return Walk(absolute_path, false, 0); }
FsNode* FsFollow(const std::string& absolute_path) { return Walk(absolute_path, true, 0); }

static FsNode* ById(FsNode* node, uint64_t id) {
  if (node->id == id) return node;
  for (auto& c : node->children)
    if (FsNode* n = ById(c.second.get(), id)) return n;
  return nullptr;
}
FsNode* FsById(uint64_t id) { return S().fs_root && id != 0 ? ById(S().fs_root.get(), id) : nullptr; }

// Where the volume is FAT, the folders above keep their long names and the
// last name is the one the handle was opened by, long or 8.3 (fastfat's
// FatQueryNameInfo in microsoft/Windows-driver-samples, which says NTFS does
// the same for the last name); on NTFS the names as opened. A handle that a
// link led to names the target's place.
std::string OpenedName(const FsNode& node, const std::string& typed, bool followed, bool last_by_short) {
  std::string place = FsPathOf(node.id);
  size_t slash = place.find('\\');
  std::string canonical = slash == std::string::npos ? "\\" : place.substr(slash);
  if (followed) return canonical;
  if (NtfsVolumeOf(place.empty() ? 'C' : place[0])) return typed.empty() ? "\\" : typed;
  if (last_by_short && !node.short_name.empty()) {
    size_t last = canonical.rfind('\\');
    return canonical.substr(0, last + 1) + node.short_name;
  }
  return canonical;
}

FsNode* FsParent(const std::string& absolute_path, std::string* leaf) {
  std::vector<std::string> parts = SplitPath(absolute_path);
  if (parts.size() < 2) return nullptr;
  *leaf = Upper(parts.back());
  std::string parent;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent += (i ? "\\" : "") + parts[i];
  return FsFind(parent);
}

// ---- names and handles

DWORD ReportedAttributes(const FsNode& node) {
  return node.dir ? (node.attrs | FILE_ATTRIBUTE_DIRECTORY) : node.attrs;
}

namespace {

// The access that takes part in sharing: an open asking for none of reading,
// writing or deleting neither checks the sharing of others nor restricts it
// (IoCheckShareAccess; "Sharing and access interaction", Microsoft's
// file-system documentation).
struct DataAccess {
  bool read, write, del;
  explicit DataAccess(DWORD access) {
    bool all = (access & GENERIC_ALL) != 0;
    read = all || (access & (GENERIC_READ | GENERIC_EXECUTE | FILE_READ_DATA | FILE_EXECUTE)) != 0;
    write = all || (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    del = all || (access & DELETE) != 0;
  }
  bool Any() const { return read || write || del; }
};

bool Clash(const DataAccess& fresh, DWORD fresh_share, DWORD open_access, DWORD open_share) {
  DataAccess open(open_access);
  if (!open.Any()) return false;
  return (fresh.read && !(open_share & FILE_SHARE_READ)) || (fresh.write && !(open_share & FILE_SHARE_WRITE)) ||
         (fresh.del && !(open_share & FILE_SHARE_DELETE)) || (open.read && !(fresh_share & FILE_SHARE_READ)) ||
         (open.write && !(fresh_share & FILE_SHARE_WRITE)) || (open.del && !(fresh_share & FILE_SHARE_DELETE));
}

FsNode* ParentSearch(FsNode* node, uint64_t id, std::string* key) {
  for (auto& c : node->children) {
    if (c.second->id == id) {
      *key = c.first;
      return node;
    }
    if (FsNode* p = ParentSearch(c.second.get(), id, key)) return p;
  }
  return nullptr;
}

}  // namespace

DWORD ShareConflict(const FsNode& node, DWORD access, DWORD share) {
  DataAccess fresh(access);
  if (!fresh.Any()) return 0;
  // A file held open by another program reads it and shares nothing.
  if (node.in_use && Clash(fresh, share, GENERIC_READ, 0)) return ERROR_SHARING_VIOLATION;
  for (const OtherHold& h : node.holds)
    if (Clash(fresh, share, h.access, h.share)) return ERROR_SHARING_VIOLATION;
  for (auto& h : S().handles) {
    const KernelObject& o = h.second;
    if (o.kind == KernelObject::kFile && o.node == node.id && Clash(fresh, share, o.access, o.share))
      return ERROR_SHARING_VIOLATION;
  }
  return 0;
}

static void CountGroup(const FsNode& node, uint64_t group, DWORD* count) {
  if (node.hard_link_group == group) ++*count;
  for (auto& c : node.children) CountGroup(*c.second, group, count);
}

DWORD HardLinkCount(const FsNode& node) {
  if (node.hard_link_group == 0 || !S().fs_root) return 1;
  DWORD count = 0;
  CountGroup(*S().fs_root, node.hard_link_group, &count);
  return count;
}

static void SetGroupAttributes(FsNode* node, uint64_t group, DWORD attrs) {
  if (node->hard_link_group == group) node->attrs = attrs;
  for (auto& c : node->children) SetGroupAttributes(c.second.get(), group, attrs);
}

void SetFileAttributesOf(FsNode* node, DWORD attrs) {
  attrs &= ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
  // The attributes belong to the file, not to one of its names.
  if (node->hard_link_group != 0 && S().fs_root) SetGroupAttributes(S().fs_root.get(), node->hard_link_group, attrs);
  else node->attrs = attrs;
}

bool HasOpenHandles(uint64_t id) {
  for (auto& h : S().handles)
    if (h.second.kind == KernelObject::kFile && h.second.node == id) return true;
  FsNode* node = FsById(id);
  return node != nullptr && HeldByOthers(*node);
}

bool HeldByOthers(const FsNode& node) { return !node.holds.empty(); }

static void DropFrom(FsNode* node, const std::function<bool(const OtherHold&)>& closes, std::vector<uint64_t>* closed) {
  auto& holds = node->holds;
  size_t before = holds.size();
  holds.erase(std::remove_if(holds.begin(), holds.end(), closes), holds.end());
  if (holds.size() != before) closed->push_back(node->id);
  for (auto& c : node->children) DropFrom(c.second.get(), closes, closed);
}

// Other programs' handles close, as the tool's own would: a deletion left
// pending by them completes.
void DropHolds(const std::function<bool(const OtherHold&)>& closes) {
  if (!S().fs_root) return;
  std::vector<uint64_t> closed;
  DropFrom(S().fs_root.get(), closes, &closed);
  for (uint64_t id : closed) {
    KernelObject o;
    o.kind = KernelObject::kFile;
    o.node = id;
    FileHandleClosed(o);
  }
}

void ReleaseHolds() {
  uint64_t now = S().now_ms;
  DropHolds([now](const OtherHold& h) { return h.until_ms != 0 && h.until_ms <= now; });
}

void RemoveName(FsNode* parent, const std::string& key) {
  auto it = parent->children.find(key);
  if (it == parent->children.end()) return;
  // The name stays, pending, until the last handle on it is closed
  // (FileDispositionInformation; dlls/ntdll/tests/file.c test_file_disposition_information).
  if (HasOpenHandles(it->second->id)) {
    it->second->delete_pending = true;
    return;
  }
  parent->children.erase(it);
}

void FileHandleClosed(const KernelObject& object) {
  if (object.kind != KernelObject::kFile) return;
  FsNode* node = FsById(object.node);
  if (node == nullptr || !node->delete_pending || HasOpenHandles(node->id)) return;
  std::string key;
  FsNode* parent = FsParentOf(node->id, &key);
  if (parent != nullptr) parent->children.erase(key);
}

FsNode* FsParentOf(uint64_t id, std::string* key) {
  return S().fs_root && id != 0 ? ParentSearch(S().fs_root.get(), id, key) : nullptr;
}

std::string FsPathOf(uint64_t id) {
  std::string path;
  std::string key;
  while (FsNode* parent = FsParentOf(id, &key)) {
    const std::string& name = parent->children[key]->name;
    path = path.empty() ? name : name + "\\" + path;
    if (parent == S().fs_root.get()) return path;
    id = parent->id;
  }
  return "";
}

// What a test plants was made by the installer, running as an administrator:
// the Administrators own it, and it inherits its folder's entries.
static FsNode* Create(const std::string& path, bool dir) {
  std::vector<std::string> parts = SplitPath(path);
  FsNode* node = S().fs_root.get();
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string name = i == 0 ? Upper(parts[i]) : parts[i];
    FsNode* found = i == 0 ? nullptr : FindChild(node, name);
    if (found != nullptr && !IsLinkNode(*found)) {
      node = found;
      continue;
    }
    auto& slot = node->children[found != nullptr ? Upper(found->name) : Upper(name)];
    if (!slot) {
      slot = std::make_unique<FsNode>();
      slot->name = name;
      slot->id = S().next_node_id++;
      slot->dir = dir || i + 1 < parts.size();
      slot->attrs = slot->dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
      if (node != S().fs_root.get()) InheritSecurity(slot.get(), *node, "S-1-5-32-544");
    }
    if (IsLinkNode(*slot) && i + 1 < parts.size()) {
      // Creating below a link creates in its target, as on Windows.
      std::string rest = slot->link_target;
      for (size_t j = i + 1; j < parts.size(); ++j) rest += "\\" + parts[j];
      return Create(rest, dir);
    }
    node = slot.get();
  }
  return node;
}

static void Collect(const FsNode* node, const std::string& prefix, std::vector<std::string>* out) {
  for (auto& c : node->children) {
    std::string p = prefix + "\\" + c.second->name;
    out->push_back(p);
    Collect(c.second.get(), p, out);
  }
}

}  // namespace detail

using namespace detail;

void SetVolume(char drive, const std::string& fs_name) {
  S().volumes[static_cast<char>(toupper(static_cast<unsigned char>(drive)))] = fs_name;
}
void MkDir(const std::string& path) { Create(path, true); }
void MkFile(const std::string& path) { Create(path, false); }
void MkLink(const std::string& path, const std::string& target, bool folder) {
  std::string leaf;
  std::vector<std::string> parts = SplitPath(path);
  std::string parent_path;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent_path += (i ? "\\" : "") + parts[i];
  Create(parent_path, true);
  FsNode* parent = FsParent(path, &leaf);
  if (parent == nullptr) abort();
  auto& slot = parent->children[leaf];
  slot = std::make_unique<FsNode>();
  slot->name = SplitPath(path).back();
  slot->id = S().next_node_id++;
  slot->dir = folder;
  slot->attrs = FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
  slot->link_target = target;
}
bool IsLink(const std::string& path) {
  FsNode* n = FsFind(path);
  return n != nullptr && IsLinkNode(*n);
}
bool IsFolder(const std::string& path) {
  FsNode* n = FsFollow(path);
  return n != nullptr && n->dir;
}
void MoveNode(const std::string& from, const std::string& to) {
  std::string from_leaf, to_leaf;
  FsNode* from_parent = FsParent(from, &from_leaf);
  FsNode* to_parent = FsParent(to, &to_leaf);
  if (from_parent == nullptr || to_parent == nullptr) abort();
  auto it = from_parent->children.find(from_leaf);
  if (it == from_parent->children.end() || to_parent->children.count(to_leaf)) abort();
  std::unique_ptr<FsNode> node = std::move(it->second);
  from_parent->children.erase(it);
  node->name = SplitPath(to).back();
  to_parent->children[to_leaf] = std::move(node);
}
bool Exists(const std::string& path) { return FsFind(path) != nullptr; }
void SetInUse(const std::string& path, bool in_use) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->in_use = in_use;
}
void SetDenyDelete(const std::string& path, bool deny) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->deny_delete = deny;
}
void HoldByOtherProgram(const std::string& path, uint64_t release_after_ms) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->holds.push_back({FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      S().now_ms + (release_after_ms == 0 ? 1 : release_after_ms), false});
}
void SetShortName(const std::string& path, const std::string& short_name) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->short_name = short_name;
}
void SetAttributes(const std::string& path, DWORD attributes) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  SetFileAttributesOf(n, attributes);
}
void SetSpecialFolder(int csidl, const std::string& path) {
  S().special_folders[csidl] = path;
  MkDir(path);
}
void SetCurrentDir(const std::string& path) {
  S().current_dir = path;
  MkDir(path);
}
void SetSystemDirs(const std::string& windows_dir, const std::string& system_dir) {
  S().windows_dir = windows_dir;
  S().system_dir = system_dir;
  MkDir(system_dir);
}
std::vector<std::string> ListTree(const std::string& path) {
  std::vector<std::string> out;
  FsNode* n = FsFind(path);
  if (n != nullptr) Collect(n, path, &out);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace sim

using namespace sim::detail;

DWORD GetFileAttributesA(LPCSTR path) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetFileAttributesA", err, "%s", Str(path).c_str())) return INVALID_FILE_ATTRIBUTES;
  if (path == nullptr || path[0] == '\0') {
    S().last_error = ERROR_PATH_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string full = Resolve(AnsiToUtf8(path));
  FsNode* node = FsFind(full);
  if (node == nullptr) {
    S().last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  // A name whose deletion is pending cannot be opened (STATUS_DELETE_PENDING);
  // the attributes are read through an open for FILE_READ_ATTRIBUTES
  // (NtQueryAttributesFile), which the folder's FILE_LIST_DIRECTORY grants too.
  if (node->delete_pending || !AccessGranted(*node, FILE_READ_ATTRIBUTES, S().tool_token, false)) {
    S().last_error = ERROR_ACCESS_DENIED;
    return INVALID_FILE_ATTRIBUTES;
  }
  return ReportedAttributes(*node);
}

static DWORD ReparseTag(const FsNode& node) {
  if (!IsLinkNode(node)) return 0;
  return node.dir ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK;
}

// The listing of the "A" call gives each Unicode name in the ANSI code page,
// best fit and all: "a¥b" (a yen sign) comes back as "a\\b" on a Japanese machine.
static void FillFindData(const KernelObject::Entry& e, LPWIN32_FIND_DATAA data) {
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = e.attrs;
  data->dwReserved0 = e.tag;
  std::string ansi = Utf8ToAnsi(e.name);
  memcpy(data->cFileName, ansi.c_str(), std::min(ansi.size(), sizeof data->cFileName - 1));
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("FindFirstFileA", err, "%s", Str(pattern).c_str())) return INVALID_HANDLE_VALUE;
  if (pattern == nullptr || data == nullptr) abort();
  // Only the one pattern the tool lists folders with: "folder\\*".
  size_t len = strlen(pattern);
  if (len >= MAX_PATH || len < 3 || strcmp(pattern + len - 2, "\\*") != 0) {
    S().last_error = len >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  std::string dir = Resolve(AnsiToUtf8(std::string(pattern, len - 2).c_str()));
  FsNode* node = FsFollow(dir);
  if (node == nullptr) {
    S().last_error = ERROR_PATH_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  if (!node->dir) {
    S().last_error = ERROR_DIRECTORY;
    return INVALID_HANDLE_VALUE;
  }
  KernelObject o;
  o.kind = KernelObject::kFind;
  // NTFS and FAT list "." and ".." first in every folder but a drive root.
  if (SplitPath(dir).size() > 1) {
    o.entries.push_back({".", FILE_ATTRIBUTE_DIRECTORY, 0});
    o.entries.push_back({"..", FILE_ATTRIBUTE_DIRECTORY, 0});
  }
  for (auto& c : node->children) {
    const FsNode& child = *c.second;
    o.entries.push_back({child.name, ReportedAttributes(child), ReparseTag(child)});
  }
  if (o.entries.empty()) {
    S().last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  FillFindData(o.entries[0], data);
  o.cursor = 1;
  return NewHandle(o);
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("FindNextFileA", err, "%p", find)) return FALSE;
  KernelObject* o = FindHandle(find);
  if (o == nullptr || o->kind != KernelObject::kFind || data == nullptr) {
    S().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (o->cursor >= o->entries.size()) {
    S().last_error = ERROR_NO_MORE_FILES;
    return FALSE;
  }
  FillFindData(o->entries[o->cursor++], data);
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  DWORD err = ERROR_INVALID_HANDLE;
  bool fail = Enter("FindClose", err, "%p", find);
  KernelObject* o = FindHandle(find);
  if (o == nullptr || o->kind != KernelObject::kFind) {
    S().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  S().handles.erase(reinterpret_cast<uintptr_t>(find));
  return fail ? FALSE : TRUE;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE template_file) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("CreateFileA", err, "%s,access=0x%x,share=0x%x,disp=%u,flags=0x%x", Str(path).c_str(),
            access, share, disposition, flags))
    return INVALID_HANDLE_VALUE;
  (void)security;
  (void)template_file;
  if (path == nullptr || disposition != OPEN_EXISTING) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  std::string full = Resolve(AnsiToUtf8(path));
  Resolution how;
  FsNode* node = Walk(full, !(flags & FILE_FLAG_OPEN_REPARSE_POINT), 0, &how);
  if (node == nullptr) {
    S().last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  // A folder opens only for backup semantics, and never on Windows 9x.
  bool nine_x = S().version.platform == VER_PLATFORM_WIN32_WINDOWS;
  if (node->dir && (nine_x || !(flags & FILE_FLAG_BACKUP_SEMANTICS))) {
    S().last_error = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  // CreateFileW asks for SYNCHRONIZE and FILE_READ_ATTRIBUTES beside what it
  // is given (Wine's dlls/kernelbase/file.c, CreateFileW); backup semantics
  // is backup intent.
  access |= SYNCHRONIZE | FILE_READ_ATTRIBUTES;
  DWORD refused = 0;
  if (node->delete_pending) refused = ERROR_ACCESS_DENIED;
  else if ((access & (DELETE | GENERIC_ALL)) && node->deny_delete) refused = ERROR_ACCESS_DENIED;
  else if (!AccessGranted(*node, access, S().tool_token, (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0))
    refused = ERROR_ACCESS_DENIED;
  else refused = ShareConflict(*node, access, share);
  if (refused != 0) {
    S().last_error = refused;
    return INVALID_HANDLE_VALUE;
  }
  KernelObject o;
  o.kind = KernelObject::kFile;
  o.access = access;
  o.share = share;
  o.node = node->id;
  o.drive = full.empty() ? 'C' : full[0];
  o.synchronous = true;
  o.opened_name = OpenedName(*node, full.size() > 2 ? full.substr(2) : "\\", how.followed, how.last_by_short);
  o.opened_at = FsPathOf(node->id);
  return NewHandle(o);
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetFileInformationByHandle", err, "%p", file)) return FALSE;
  KernelObject* o = FindHandle(file);
  FsNode* node = o != nullptr && o->kind == KernelObject::kFile ? FsById(o->node) : nullptr;
  if (node == nullptr || info == nullptr) {
    S().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  // The basic information it reads needs FILE_READ_ATTRIBUTES.
  if (!(o->access & (FILE_READ_ATTRIBUTES | GENERIC_READ))) {
    S().last_error = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  memset(info, 0, sizeof *info);
  info->dwFileAttributes = ReportedAttributes(*node);
  info->dwVolumeSerialNumber = 0x1234abcd;
  info->nNumberOfLinks = HardLinkCount(*node);
  info->nFileIndexLow = static_cast<DWORD>(node->id);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("DeleteFileA", err, "%s", Str(path).c_str())) return FALSE;
  std::string leaf;
  std::string full = Resolve(AnsiToUtf8(path));
  FsNode* parent = FsParent(full, &leaf);
  FsNode* node = parent ? FsFind(full) : nullptr;
  DWORD fail = 0;
  if (node == nullptr) fail = ERROR_FILE_NOT_FOUND;
  else if (node->dir || node->delete_pending) fail = ERROR_ACCESS_DENIED;
  else if (node->deny_delete || !DaclAllowsDelete(*node)) fail = ERROR_ACCESS_DENIED;
  else if (DWORD e = ShareConflict(*node, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) fail = e;
  else if (node->attrs & FILE_ATTRIBUTE_READONLY) fail = ERROR_ACCESS_DENIED;
  if (fail != 0) {
    S().last_error = fail;
    return FALSE;
  }
  RemoveName(parent, leaf);
  return TRUE;
}

// Each name of the path replaced by the name it has on disk (an 8.3 name by
// its long one); the path must exist (GetLongPathName, Microsoft's
// documentation). The length without the terminator when it fits, else the
// size needed.
DWORD GetLongPathNameA(LPCSTR short_path, LPSTR long_path, DWORD size) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetLongPathNameA", err, "%s,size=%u", Str(short_path).c_str(), size)) return 0;
  if (short_path == nullptr) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  std::string full = Resolve(AnsiToUtf8(short_path));
  std::vector<std::string> parts = SplitPath(full);
  FsNode* node = S().fs_root.get();
  std::string out;
  for (size_t i = 0; i < parts.size() && node != nullptr; ++i) {
    FsNode* child = FindChild(node, parts[i]);
    if (child == nullptr) node = nullptr;
    else {
      out += (i == 0 ? "" : "\\") + (i == 0 ? parts[0] : child->name);
      node = IsLinkNode(*child) && i + 1 < parts.size() ? FsFollow(child->link_target) : child;
    }
  }
  if (node == nullptr || parts.empty()) {
    S().last_error = ERROR_FILE_NOT_FOUND;
    return 0;
  }
  if (parts.size() == 1) out += "\\";
  std::string ansi = Utf8ToAnsi(out);
  if (long_path == nullptr || size <= ansi.size()) return static_cast<DWORD>(ansi.size() + 1);
  memcpy(long_path, ansi.c_str(), ansi.size() + 1);
  return static_cast<DWORD>(ansi.size());
}

static UINT CopyDir(const std::string& dir, LPSTR buffer, UINT size) {
  UINT len = static_cast<UINT>(dir.size());
  if (buffer == nullptr || size < len + 1) return len + 1;
  memcpy(buffer, dir.c_str(), len + 1);
  return len;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetSystemDirectoryA", err, "size=%u", size)) return 0;
  // A WOW64 program is told System32; the redirection acts when it is used.
  return CopyDir(S().system_dir, buffer, size);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetWindowsDirectoryA", err, "size=%u", size)) return 0;
  return CopyDir(S().windows_dir, buffer, size);
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("GetCurrentDirectoryA", err, "size=%u", size)) return 0;
  return CopyDir(S().current_dir, buffer, size);
}

BOOL GetVolumeInformationA(LPCSTR root, LPSTR volume_name, DWORD volume_name_size, LPDWORD serial,
                           LPDWORD max_component, LPDWORD fs_flags, LPSTR fs_name,
                           DWORD fs_name_size) {
  DWORD err = ERROR_NOT_READY;
  if (Enter("GetVolumeInformationA", err, "%s,fs_size=%u", Str(root).c_str(), fs_name_size)) return FALSE;
  // Only a drive root names a volume here: "X:\".
  if (root == nullptr || strlen(root) != 3 || root[1] != ':' || root[2] != '\\') {
    S().last_error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  auto it = S().volumes.find(static_cast<char>(toupper(static_cast<unsigned char>(root[0]))));
  if (it == S().volumes.end()) {
    S().last_error = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  const std::string& fs = it->second;
  if (fs_name != nullptr && fs_name_size < fs.size() + 1) {
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  if (volume_name != nullptr && volume_name_size > 0) volume_name[0] = '\0';
  if (serial != nullptr) *serial = 0x1234abcd;
  if (max_component != nullptr) *max_component = 255;
  if (fs_flags != nullptr) *fs_flags = fs == "NTFS" ? 0x000700ffu : 0x00000006u;
  if (fs_name != nullptr) memcpy(fs_name, fs.c_str(), fs.size() + 1);
  return TRUE;
}

BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int csidl, BOOL create) {
  DWORD err = ERROR_FILE_NOT_FOUND;
  if (Enter("SHGetSpecialFolderPathA", err, "%p,%d,%d", static_cast<void*>(owner), csidl, create))
    return FALSE;
  auto it = S().special_folders.find(csidl);
  std::string ansi = it == S().special_folders.end() ? "" : Utf8ToAnsi(it->second);
  if (ansi.empty() || ansi.size() >= MAX_PATH) return FALSE;
  memcpy(path, ansi.c_str(), ansi.size() + 1);
  return TRUE;
}

BOOL IsDBCSLeadByte(BYTE c) {
  DWORD err = 0;
  if (Enter("IsDBCSLeadByte", err, "0x%02x", c)) return FALSE;
  // Lead bytes of code page 932 (Shift-JIS); code page 1252 has none.
  if (S().ansi_code_page != 932) return FALSE;
  return ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? TRUE : FALSE;
}
