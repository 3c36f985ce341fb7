#include "files/folders.h"

#include "common/owners.h"
#include "common/text.h"
#include "files/acl.h"
#include "platform/win.h"
#include "probes/probes.h"
#include "regops/primitives.h"

namespace {

// Tried in this order where the edition leaves both open.
const char* const kProductFolders[] = {kCordaValeFolder, kOrvaFolder};
const char kLogsFolder[] = "logs";
const char kEveryone[] = "Everyone";

// Windows 2000 and XP leave the product's "logs" folder with an access list
// that keeps the shell from deleting it.
bool NeedsLogsAclReset(int generation) { return generation == 3 || generation == 4; }

// The length of the base folder that path joins product to; 0 when path
// does not end in "\\" and product.
size_t BaseLength(const char* path, const char* product) {
  size_t len = strlen(path);
  size_t product_len = strlen(product);
  if (product_len == 0 || product_len >= len || path[len - product_len - 1] != '\\' ||
      strcmp(path + len - product_len, product) != 0)
    return 0;
  return len - product_len - 1;
}

// True when no folder between the base and the product folder (the vendor's
// folder) is a link: through one, the product folder would be some other
// folder elsewhere on the disk.
bool ReachedWithoutLinks(const char* path, const char* product) {
  size_t base = BaseLength(path, product);
  if (base == 0) return false;
  char part[kPathSize];
  for (size_t at = base + 1; path[at] != '\0'; ++at) {
    if (path[at] != '\\') continue;
    memcpy(part, path, at);
    part[at] = '\0';
    DWORD attributes = GetFileAttributesA(part);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  }
  return true;
}

// Deletes a product folder candidate when it exists; true when absent.
int DeleteCandidate(const char* path, const char* product, bool present, int generation) {
  if (!present) return 1;
  if (!ReachedWithoutLinks(path, product)) return 0;
  if (NeedsLogsAclReset(generation)) ResetLogsFolderAcl(path, product);
  return DeleteFolder(path);
}

// The Program Files product folder of the edition, or false when there is
// none; product gets its name relative to Program Files.
bool FindProgramFilesCandidate(int edition, char* path, const char** product) {
  char program_files[kPathSize];
  ReadProgramFilesDir(program_files);
  // Without a Program Files folder every join would land in the drive root.
  if (program_files[0] == '\0') return false;
  const char* own = EditionFolder(edition);
  if (own != nullptr) {
    *product = own;
    return JoinPath(path, kPathSize, program_files, own) && PathExists(path);
  }
  for (const char* folder : kProductFolders) {
    *product = folder;
    if (JoinPath(path, kPathSize, program_files, folder) && PathExists(path)) return true;
  }
  return false;
}

bool FindAppDataCandidate(char* path, const char** product) {
  for (const char* folder : kProductFolders) {
    *product = folder;
    memset(path, 0, kPathSize);
    BuildAppDataPath(folder, path);
    if (path[0] != '\0' && PathExists(path)) return true;
  }
  return false;
}

bool IsLinkAttributes(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Removes a link itself: RemoveDirectoryA takes a folder link (a junction or
// a symbolic link) without entering it, DeleteFileA a file link.
bool RemoveLink(const char* path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryA(path) != FALSE;
  return DeleteFileA(path) != FALSE;
}

// A product folder nests a few levels; deeper than this is no product's.
const int kMaxWalkDepth = 32;

// Removes every link below the folder in path (len characters, in a buffer of
// kPathSize that names are appended to in place), without entering any. False
// when a link stays or a part of the tree could not be looked at: a name that
// would not fit the buffer, a listing that failed, a tree nested too deep.
bool RemoveLinksBelow(char* path, size_t len, int depth) {
  if (depth > kMaxWalkDepth) return false;
  if (!ConcatText(path + len, kPathSize - len, "", "\\*")) return false;
  WIN32_FIND_DATAA data;
  memset(&data, 0, sizeof data);
  ScopedFind find(FindFirstFileA(path, &data));
  path[len] = '\0';
  if (!find.Valid()) return GetLastError() == ERROR_FILE_NOT_FOUND;  // nothing inside
  do {
    data.cFileName[sizeof data.cFileName - 1] = '\0';
    const char* name = data.cFileName;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    path[len] = '\\';
    bool fits = CopyText(path + len + 1, kPathSize - len - 1, name);
    bool done = false;
    if (!fits) {
      done = false;
    } else if (IsLinkAttributes(data.dwFileAttributes)) {
      done = RemoveLink(path, data.dwFileAttributes);
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      done = RemoveLinksBelow(path, strlen(path), depth + 1);
    } else {
      done = true;
    }
    path[len] = '\0';
    if (!done) return false;
  } while (FindNextFileA(find.Get(), &data));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

bool IsForbiddenNameByte(unsigned char c) {
  return c < 0x20 || strchr("<>:\"/\\|?*", c) != nullptr;
}

}  // namespace

int DeleteFolder(const char* path) {
  if (path == nullptr) return 0;
  char list[512];
  memset(list, 0, sizeof list);
  size_t len = strlen(path);
  // The list needs room for the name and two terminating NULs.
  if (len == 0 || len > sizeof list - 2) return 0;
  memcpy(list, path, len);
  // The shell of Windows 2000 and XP deletes what a folder link points at as
  // if it were inside the tree. A link is removed as a link, and every link
  // below a folder goes before the shell sees the tree.
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (IsLinkAttributes(attributes)) return RemoveLink(path, attributes) ? 1 : 0;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    char walk[kPathSize];
    if (!CopyText(walk, sizeof walk, path)) return 0;
    if (!RemoveLinksBelow(walk, len, 0)) return 0;
  }
  SHFILEOPSTRUCTA op;
  memset(&op, 0, sizeof op);
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = list;
  op.pTo = nullptr;
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_SIMPLEPROGRESS;
  op.hNameMappings = nullptr;
  op.lpszProgressTitle = nullptr;
  return SHFileOperationA(&op) == 0 ? 1 : 0;
}

void ResetLogsFolderAcl(const char* folder, const char* product) {
  char logs[kPathSize];
  memset(logs, 0, sizeof logs);
  if (!JoinPath(logs, sizeof logs, folder, kLogsFolder)) return;
  if (!PathExists(logs)) return;
  // Every folder from below the base down to the product folder is opened
  // without following a link and held: a link among them stops the reset,
  // and none of them can be swapped for a link until the reset is done.
  size_t base = BaseLength(folder, product);
  if (base == 0) return;
  size_t folder_len = strlen(folder);
  const size_t kMaxHeld = 4;
  ScopedFile held[kMaxHeld];
  size_t count = 0;
  char part[kPathSize];
  for (size_t at = base + 1; at <= folder_len; ++at) {
    if (at != folder_len && folder[at] != '\\') continue;
    if (count == kMaxHeld || at >= sizeof part) return;
    memcpy(part, folder, at);
    part[at] = '\0';
    held[count] = OpenPlainFolder(part, GENERIC_READ);
    if (!held[count].Valid()) return;
    ++count;
  }
  ResetFolderAcl(logs, kEveryone, GENERIC_ALL);
}

int DeleteProductFolders(int edition, int generation) {
  char program_files_path[kPathSize];
  const char* pf_product = kCordaValeFolder;
  bool in_program_files = FindProgramFilesCandidate(edition, program_files_path, &pf_product);
  int first = DeleteCandidate(program_files_path, pf_product, in_program_files, generation);

  char app_data_path[kPathSize];
  const char* app_product = kCordaValeFolder;
  bool in_app_data = FindAppDataCandidate(app_data_path, &app_product);
  int second = DeleteCandidate(app_data_path, app_product, in_app_data, generation);
  // A look that could not be made passes for an absent folder: where nothing
  // was found, look once more, so that a folder still there is never
  // reported as deleted.
  char again[kPathSize];
  const char* product = nullptr;
  if (!in_program_files && FindProgramFilesCandidate(edition, again, &product)) first = 0;
  if (!in_app_data && FindAppDataCandidate(again, &product)) second = 0;
  return (first && second) ? 1 : 0;
}

bool IsSingleFolderName(const char* name) {
  size_t len = strlen(name);
  if (len == 0) return false;
  // Windows drops trailing dots and blanks from a path's last name, so "...",
  // ". " and the like would name the Programs folder itself.
  if (strspn(name, ". ") == len) return false;
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    // The trail byte of a double-byte character may be 0x5C, the backslash.
    if (IsDBCSLeadByte(c) && name[i + 1] != '\0') {
      ++i;
      continue;
    }
    if (IsForbiddenNameByte(c)) return false;
  }
  return true;
}

void DeleteStartMenuFolder() {
  // ReadRegValue adds no terminator: a value stored without one, or filling
  // all 255 bytes offered, still ends inside the zeroed buffer.
  char name[256];
  memset(name, 0, sizeof name);
  if (!ReadRegValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", name, sizeof name - 1)) return;
  name[sizeof name - 1] = '\0';
  if (!IsSingleFolderName(name)) return;
  char programs[kPathSize];
  if (!GetStartMenuProgramsPath(programs)) return;
  char path[kPathSize];
  if (!JoinPath(path, sizeof path, programs, name)) return;
  if (PathExists(path)) DeleteFolder(path);
}
