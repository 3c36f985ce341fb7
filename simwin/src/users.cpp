// Another user of the simulated machine: what a user's own calls can change
// while the tool runs, refused where Windows would refuse them.
#include "state.h"

#include <algorithm>
#include <cstdlib>

namespace sim {
namespace detail {
namespace {

std::vector<std::string>& Writable() {
  static std::vector<std::string>* folders = new std::vector<std::string>();
  return *folders;
}

bool Below(const std::string& path, const std::string& folder) {
  std::string p = Upper(path);
  std::string f = Upper(folder);
  return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '\\');
}

bool UserMayWrite(uint64_t id) {
  std::string path = FsPathOf(id);
  for (const std::string& folder : Writable())
    if (Below(path, folder)) return true;
  return false;
}

// The folder a new name would go into, with links on the way followed as a
// user's call follows them; null when it cannot take one.
FsNode* FolderForNewName(const std::string& path, std::string* leaf) {
  FsNode* parent = FsParent(path, leaf);
  if (parent != nullptr && IsLinkNode(*parent)) parent = FsFollow(parent->link_target);
  if (parent == nullptr || !parent->dir || parent->delete_pending || !UserMayWrite(parent->id)) return nullptr;
  return parent->children.count(*leaf) ? nullptr : parent;
}

}  // namespace
}  // namespace detail

using namespace detail;

void SetUserWritable(const std::vector<std::string>& folders) { Writable() = folders; }

bool UserRename(const std::string& from, const std::string& to) {
  std::string from_leaf, to_leaf;
  FsNode* from_parent = FsParent(from, &from_leaf);
  if (from_parent != nullptr && IsLinkNode(*from_parent)) from_parent = FsFollow(from_parent->link_target);
  auto it = from_parent != nullptr ? from_parent->children.find(from_leaf) : std::map<std::string, std::unique_ptr<FsNode>>::iterator();
  if (from_parent == nullptr || it == from_parent->children.end()) return false;
  FsNode* node = it->second.get();
  // MoveFileEx opens the name for DELETE, sharing everything.
  if (node->delete_pending || !UserMayWrite(node->id) || node->deny_delete ||
      DeniedByList(*node, DELETE, S().user_token) ||
      ShareConflict(*node, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != 0)
    return false;
  FsNode* to_parent = FolderForNewName(to, &to_leaf);
  if (to_parent == nullptr) return false;
  // A folder cannot move into itself.
  for (uint64_t id = to_parent->id; id != 0;) {
    if (id == node->id) return false;
    std::string key;
    FsNode* up = FsParentOf(id, &key);
    id = up != nullptr ? up->id : 0;
  }
  std::unique_ptr<FsNode> moved = std::move(it->second);
  from_parent->children.erase(it);
  moved->name = SplitPath(to).back();
  to_parent->children[to_leaf] = std::move(moved);
  return true;
}

bool UserMkLink(const std::string& path, const std::string& target, bool folder) {
  std::string leaf;
  FsNode* parent = FolderForNewName(path, &leaf);
  if (parent == nullptr) return false;
  auto node = std::make_unique<FsNode>();
  node->name = SplitPath(path).back();
  node->id = S().next_node_id++;
  node->dir = folder;
  node->attrs = FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
  node->link_target = target;
  InheritSecurity(node.get(), *parent, kUserSid);
  parent->children[leaf] = std::move(node);
  return true;
}

bool UserOpen(const std::string& path, DWORD access, DWORD share) {
  FsNode* node = FsFind(path);
  if (node == nullptr || node->delete_pending) return false;
  // As CreateFileW opens it (Wine's dlls/kernelbase/file.c).
  access |= SYNCHRONIZE | FILE_READ_ATTRIBUTES;
  if (!AccessGranted(*node, access, S().user_token, false) || ShareConflict(*node, access, share) != 0) return false;
  node->holds.push_back({access, share, 0, true});
  return true;
}

void UserCloseAll() {
  DropHolds([](const OtherHold& h) { return h.by_user; });
}

void MkHardLink(const std::string& path, const std::string& existing) {
  FsNode* file = FsFind(existing);
  if (file == nullptr || file->dir) abort();
  if (file->hard_link_group == 0) file->hard_link_group = S().next_node_id++;
  MkFile(path);
  FsNode* name = FsFind(path);
  name->hard_link_group = file->hard_link_group;
  name->attrs = file->attrs;
  name->security = file->security;
}

uint64_t NodeId(const std::string& path) {
  FsNode* n = FsFind(path);
  return n != nullptr ? n->id : 0;
}

bool NodeExists(uint64_t id) { return FsById(id) != nullptr; }

std::string PathOf(uint64_t id) { return FsPathOf(id); }

}  // namespace sim
