#include "files/folders.h"

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

// Deletes a product folder candidate when it exists; true when absent.
int DeleteCandidate(const char* path, bool present, int generation) {
  if (!present) return 1;
  if (NeedsLogsAclReset(generation)) ResetLogsFolderAcl(path);
  return DeleteFolder(path);
}

// The Program Files product folder of the edition, or false when there is none.
bool FindProgramFilesCandidate(int edition, char* path) {
  char program_files[kPathSize];
  ReadProgramFilesDir(program_files);
  // Without a Program Files folder every join would land in the drive root.
  if (program_files[0] == '\0') return false;
  const char* own = EditionFolder(edition);
  if (own != nullptr) return JoinPath(path, kPathSize, program_files, own) && PathExists(path);
  for (const char* folder : kProductFolders) {
    if (JoinPath(path, kPathSize, program_files, folder) && PathExists(path)) return true;
  }
  return false;
}

bool FindAppDataCandidate(char* path) {
  for (const char* folder : kProductFolders) {
    memset(path, 0, kPathSize);
    BuildAppDataPath(folder, path);
    if (path[0] != '\0' && PathExists(path)) return true;
  }
  return false;
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

void ResetLogsFolderAcl(const char* folder) {
  char logs[kPathSize];
  memset(logs, 0, sizeof logs);
  if (!JoinPath(logs, sizeof logs, folder, kLogsFolder)) return;
  if (PathExists(logs)) ResetFolderAcl(logs, kEveryone, GENERIC_ALL);
}

int DeleteProductFolders(int edition, int generation) {
  char program_files_path[kPathSize];
  bool in_program_files = FindProgramFilesCandidate(edition, program_files_path);
  int first = DeleteCandidate(program_files_path, in_program_files, generation);

  char app_data_path[kPathSize];
  bool in_app_data = FindAppDataCandidate(app_data_path);
  int second = DeleteCandidate(app_data_path, in_app_data, generation);
  // A look that could not be made passes for an absent folder: where nothing
  // was found, look once more, so that a folder still there is never
  // reported as deleted.
  char again[kPathSize];
  if (!in_program_files && FindProgramFilesCandidate(edition, again)) first = 0;
  if (!in_app_data && FindAppDataCandidate(again)) second = 0;
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
