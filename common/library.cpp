#include "common/library.h"

#include "common/text.h"

HMODULE LoadSystemLibrary(const char* name) {
  char dir[MAX_PATH];
  char path[MAX_PATH];
  // GetSystemDirectoryA gives the size it needs, NUL included, when the
  // folder does not fit.
  UINT length = GetSystemDirectoryA(dir, sizeof dir);
  if (length == 0 || length >= sizeof dir || !JoinPath(path, sizeof path, dir, name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // With a full path LoadLibraryA would look for the DLL's own imports
  // beside the tool first; this flag makes the DLL's folder the first place.
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
