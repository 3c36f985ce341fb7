// The backup and restore privileges, enabled for the span of a folder
// deletion on the NT family and put back as they were when it ends.
#pragma once

#include "common/owners.h"
#include "platform/win.h"

// While it lives, the token of the tool has SeBackupPrivilege and
// SeRestorePrivilege enabled, where it holds them (administrators do): an
// open with backup intent then gets read, write and delete access to what
// lies in a product folder whatever its access list says. Where the token
// lacks them, or an entry point is missing, nothing changes.
class ScopedBackupPrivileges {
 public:
  ScopedBackupPrivileges();
  ~ScopedBackupPrivileges();
  ScopedBackupPrivileges(const ScopedBackupPrivileges&) = delete;
  ScopedBackupPrivileges& operator=(const ScopedBackupPrivileges&) = delete;

 private:
  ScopedKernelHandle token_;
  // TOKEN_PRIVILEGES with room for two.
  struct TwoPrivileges {
    DWORD count;
    LUID_AND_ATTRIBUTES privileges[2];
  };
  // The previous state of the privileges that were changed, for the way back.
  TwoPrivileges previous_;
  bool changed_ = false;
};
