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

FsNode* FsFind(const std::string& absolute_path) {
  std::vector<std::string> parts = SplitPath(absolute_path);
  if (parts.empty() || !S().fs_root) return nullptr;
  FsNode* node = S().fs_root.get();
  for (const std::string& p : parts) {
    auto it = node->children.find(Upper(p));
    if (it == node->children.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

FsNode* FsParent(const std::string& absolute_path, std::string* leaf) {
  std::vector<std::string> parts = SplitPath(absolute_path);
  if (parts.size() < 2) return nullptr;
  *leaf = Upper(parts.back());
  std::string parent;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent += (i ? "\\" : "") + parts[i];
  return FsFind(parent);
}

static FsNode* Create(const std::string& path, bool dir) {
  std::vector<std::string> parts = SplitPath(path);
  FsNode* node = S().fs_root.get();
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string name = i == 0 ? Upper(parts[i]) : parts[i];
    auto& slot = node->children[Upper(name)];
    if (!slot) {
      slot = std::make_unique<FsNode>();
      slot->name = name;
      slot->dir = dir || i + 1 < parts.size();
      slot->attrs = slot->dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
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
void SetAttributes(const std::string& path, DWORD attributes) {
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->attrs = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
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
  std::string full = Resolve(path);
  FsNode* node = FsFind(full);
  if (node == nullptr) {
    S().last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  return node->dir ? (node->attrs | FILE_ATTRIBUTE_DIRECTORY) : node->attrs;
}

BOOL DeleteFileA(LPCSTR path) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("DeleteFileA", err, "%s", Str(path).c_str())) return FALSE;
  std::string leaf;
  std::string full = Resolve(path ? path : "");
  FsNode* parent = FsParent(full, &leaf);
  FsNode* node = parent ? FsFind(full) : nullptr;
  DWORD fail = 0;
  if (node == nullptr) fail = ERROR_FILE_NOT_FOUND;
  else if (node->dir) fail = ERROR_ACCESS_DENIED;
  else if (node->in_use) fail = ERROR_SHARING_VIOLATION;
  else if (node->deny_delete || (node->attrs & FILE_ATTRIBUTE_READONLY)) fail = ERROR_ACCESS_DENIED;
  if (fail != 0) {
    S().last_error = fail;
    return FALSE;
  }
  parent->children.erase(leaf);
  return TRUE;
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
  if (it == S().special_folders.end() || it->second.size() >= MAX_PATH) return FALSE;
  memcpy(path, it->second.c_str(), it->second.size() + 1);
  return TRUE;
}

BOOL IsDBCSLeadByte(BYTE c) {
  DWORD err = 0;
  if (Enter("IsDBCSLeadByte", err, "0x%02x", c)) return FALSE;
  // Lead bytes of code page 932 (Shift-JIS).
  return ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? TRUE : FALSE;
}
