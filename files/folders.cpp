#include "files/folders.h"

#include "common/text.h"
#include "files/tree_delete.h"
#include "platform/win.h"
#include "probes/probes.h"
#include "regops/primitives.h"

namespace {

// Tried in this order where the edition leaves both open.
const char* const kProductFolders[] = {kCordaValeFolder, kOrvaFolder};

// Windows 2000 and XP leave the product's "logs" folder with an access list
// that keeps it from being deleted.
bool NeedsLogsAclReset(int generation) { return generation == 3 || generation == 4; }

bool IsForbiddenNameByte(unsigned char c) {
  return c < 0x20 || strchr("<>:\"/\\|?*", c) != nullptr;
}

// The shell's delete request of Windows 98 and Me: no links there to follow.
// No dialog may wait for an answer in a run that nobody watches (the flags
// of Microsoft's SHFILEOPSTRUCT page): FOF_NOCONFIRMATION answers "Yes to
// All" to every confirmation, FOF_NOERRORUI keeps the error message of an
// item that cannot go from showing (the call then gives its error), and
// FOF_SILENT hides the progress window. A deletion creates no folder, so
// FOF_NOCONFIRMMKDIR does not apply.
int ShellDelete(const char* path) {
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
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_SIMPLEPROGRESS | FOF_NOERRORUI;
  op.hNameMappings = nullptr;
  op.lpszProgressTitle = nullptr;
  return SHFileOperationA(&op) == 0 ? 1 : 0;
}

int DeleteUnder(const char* base, const char* relative, bool reset_logs) {
  if (base == nullptr || relative == nullptr) return 0;
  // The shell of 2000 and XP deletes through a folder link, and any shell
  // resolves the path again and again: on the NT family the tree goes
  // through handles alone, and a missing entry point fails the deletion.
  // An empty base is the root of the current drive, as the path join gives it.
  if (!IsWindows9x()) return DeleteTreeByHandles(base[0] != '\0' ? base : "\\", relative, reset_logs);
  char path[kPathSize];
  if (!JoinPath(path, sizeof path, base, relative)) return 0;
  return ShellDelete(path);
}

// The product-folder candidates in their order: under Program Files the
// edition's own folder (edition 0 has none of its own, so both count), under
// the application-data folder both, where a user may have made one to hide
// the other. Deletes each one present whose bit is in wanted (when deleting)
// and gives the bits of those not found or not looked at; *result turns 0
// when a deletion fails.
unsigned OverCandidates(int edition, unsigned wanted, bool deleting, bool reset_logs, int* result) {
  char bases[2][kPathSize];
  ReadProgramFilesDir(bases[0]);
  GetAppDataFolder(bases[1]);
  const char* own = EditionFolder(edition);
  unsigned unseen = 0;
  for (unsigned i = 0; i < 4; ++i) {
    const char* base = bases[i / 2];
    const char* folder = kProductFolders[i % 2];
    if (!(wanted & (1u << i)) || (i / 2 == 0 && own != nullptr && folder != own)) continue;
    char path[kPathSize];
    // Without a base every join would land in the drive root.
    if (base[0] == '\0' || !JoinPath(path, sizeof path, base, folder) || !PathExists(path)) {
      unseen |= 1u << i;
    } else if (deleting && !DeleteUnder(base, folder, reset_logs)) {
      *result = 0;
    }
  }
  return unseen;
}

}  // namespace

int DeleteFolder(const char* base, const char* relative) { return DeleteUnder(base, relative, false); }

int DeleteProductFolders(int edition, int generation) {
  int result = 1;
  unsigned unseen = OverCandidates(edition, 0xF, true, NeedsLogsAclReset(generation), &result);
  // A look that could not be made passes for an absent folder: where one
  // was not found, look once more, so that a folder still there is never
  // reported as deleted.
  if (unseen != 0 && OverCandidates(edition, unseen, false, false, &result) != unseen) result = 0;
  return result;
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

namespace {

// Reads the uninstall key's "DisplayName" into name (256 bytes), terminated.
bool ReadDisplayName(char* name) {
  // ReadRegValue adds no terminator: a value stored without one, or filling
  // all 255 bytes offered, still ends inside the zeroed buffer.
  memset(name, 0, 256);
  if (!ReadRegValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", name, 255)) return false;
  name[255] = '\0';
  return true;
}

// The Win32 calls drop the dots and blanks that end a path's last name, so
// "ZTX Filter. " names the folder "ZTX Filter". No trail byte of a
// double-byte character is a dot or a blank (they begin at 0x40).
void DropTrailingDotsAndBlanks(char* name) {
  size_t len = strlen(name);
  while (len > 0 && (name[len - 1] == '.' || name[len - 1] == ' ')) name[--len] = '\0';
}

}  // namespace

int DeleteStartMenuFolder() {
  // A look that could not be made passes for an absent item, and the key is
  // the one thing that names the folder: each look is made twice before the
  // folder counts as absent.
  char name[256];
  if (!ReadDisplayName(name) && !ReadDisplayName(name)) return 1;
  DropTrailingDotsAndBlanks(name);
  if (!IsSingleFolderName(name)) return 1;
  // A Windows without the programs folder (95 has no all-users one) has no
  // folder of that name to find.
  char programs[kPathSize];
  if (!GetStartMenuProgramsPath(programs) && !GetStartMenuProgramsPath(programs)) return 1;
  char path[kPathSize];
  if (!JoinPath(path, sizeof path, programs, name)) return 1;
  if (!PathExists(path) && !PathExists(path)) return 1;
  return DeleteFolder(programs, name) && !PathExists(path) ? 1 : 0;
}
