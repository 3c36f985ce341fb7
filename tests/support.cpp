#include "support.h"

#include <iconv.h>

#include <stdexcept>

#include "driver/cleanup.h"
#include "files/acl.h"

std::string Cp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv CP932 unavailable");
  std::string in = utf8;
  std::string out(in.size() * 2 + 16, '\0');
  char* ip = in.data();
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) throw std::runtime_error("not convertible to CP932: " + utf8);
  out.resize(out.size() - ol);
  return out;
}

RunResult RunTool(const std::string& input) {
  RunResult r;
  r.out = sim::RunWithConsole(input, [&] { r.exit_code = RunCleanup(); });
  return r;
}

NTSTATUS NtOpenBelow(const std::string& folder, const std::string& name, ACCESS_MASK access, ULONG share,
                     ULONG options, HANDLE* out) {
  HANDLE parent = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (parent == INVALID_HANDLE_VALUE) return -1;
  std::u16string wide(name.begin(), name.end());  // ASCII names only
  UNICODE_STRING text;
  text.Length = text.MaximumLength = static_cast<USHORT>(wide.size() * 2);
  text.Buffer = wide.data();
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = parent;
  attributes.ObjectName = &text;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK io = {};
  NTSTATUS status = NtOpenFile(out, access, &attributes, &io, share, options | FILE_OPEN_REPARSE_POINT);
  CloseHandle(parent);
  return status;
}

AdvapiLoaded::AdvapiLoaded() { g_AdvapiModule = LoadLibraryA("advapi32.dll"); }
AdvapiLoaded::~AdvapiLoaded() {
  if (g_AdvapiModule) FreeLibrary(g_AdvapiModule);
  g_AdvapiModule = nullptr;
}
