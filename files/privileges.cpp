#include "files/privileges.h"

#include "common/owners.h"
#include "files/acl.h"

namespace {

typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* LookupPrivilegeValueAFn)(LPCSTR, LPCSTR, PLUID);
typedef BOOL(WINAPI* AdjustTokenPrivilegesFn)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);

// Windows 9x has no tokens; the three are bound by name in the shared
// advapi32 module, like the other security functions.
struct PrivilegeApi {
  OpenProcessTokenFn open_token;
  LookupPrivilegeValueAFn lookup;
  AdjustTokenPrivilegesFn adjust;
  PrivilegeApi()
      : open_token(BindProc<OpenProcessTokenFn>(g_AdvapiModule, "OpenProcessToken")),
        lookup(BindProc<LookupPrivilegeValueAFn>(g_AdvapiModule, "LookupPrivilegeValueA")),
        adjust(BindProc<AdjustTokenPrivilegesFn>(g_AdvapiModule, "AdjustTokenPrivileges")) {}
  bool Complete() const { return open_token && lookup && adjust; }
};

}  // namespace

ScopedBackupPrivileges::ScopedBackupPrivileges() {
  memset(&previous_, 0, sizeof previous_);
  PrivilegeApi api;
  if (!api.Complete()) return;
  if (!api.open_token(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.Receive())) {
    token_.Reset();
    return;
  }
  TwoPrivileges wanted;
  memset(&wanted, 0, sizeof wanted);
  wanted.count = 2;
  if (!api.lookup(nullptr, SE_BACKUP_NAME, &wanted.privileges[0].Luid) ||
      !api.lookup(nullptr, SE_RESTORE_NAME, &wanted.privileges[1].Luid))
    return;
  wanted.privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
  DWORD length = 0;
  // TRUE also when the token lacks one of them (ERROR_NOT_ALL_ASSIGNED); the
  // previous state then names only what did change.
  changed_ = api.adjust(token_.Get(), FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&wanted), sizeof previous_,
                        reinterpret_cast<PTOKEN_PRIVILEGES>(&previous_), &length) != FALSE;
}

ScopedBackupPrivileges::~ScopedBackupPrivileges() {
  if (!token_.Valid() || !changed_ || previous_.count == 0) return;
  PrivilegeApi api;
  if (api.adjust != nullptr)
    api.adjust(token_.Get(), FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&previous_), 0, nullptr, nullptr);
}
