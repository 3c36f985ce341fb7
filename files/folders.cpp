#include "files/folders.h"

#include "platform/win.h"

int DeleteFolder(const char* path) {
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

// Placeholder until the product-folder removal lands: it finds nothing.
int DeleteProductFolders(int, int) { return 1; }
void DeleteStartMenuFolder() {}
