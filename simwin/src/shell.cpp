// Simulated shell operations and security calls.
// Not simulated yet: folder deletion, program start and access lists fail.
#include "state.h"

namespace sim {
namespace detail {
void ResetShell() {}
}  // namespace detail
}  // namespace sim

using namespace sim::detail;

int SHFileOperationA(LPSHFILEOPSTRUCTA op) {
  DWORD err = ERROR_ACCESS_DENIED;
  Enter("SHFileOperationA", err, "func=%u,flags=0x%x", op->wFunc, op->fFlags);
  return ERROR_ACCESS_DENIED;
}
BOOL ShellExecuteExA(LPSHELLEXECUTEINFOA info) {
  DWORD err = ERROR_FILE_NOT_FOUND;
  Enter("ShellExecuteExA", err, "%s", Str(info->lpFile).c_str());
  S().last_error = ERROR_FILE_NOT_FOUND;
  return FALSE;
}
#define SIM_SECURITY_STUB(decl, name) \
  decl {                               \
    DWORD err = ERROR_CALL_NOT_IMPLEMENTED; \
    Enter(name, err, "");              \
    S().last_error = err;              \
    return FALSE;                      \
  }
SIM_SECURITY_STUB(BOOL AddAccessAllowedAceEx(PACL, DWORD, DWORD, DWORD, PSID), "AddAccessAllowedAceEx")
SIM_SECURITY_STUB(BOOL GetAclInformation(PACL, LPVOID, DWORD, ACL_INFORMATION_CLASS), "GetAclInformation")
SIM_SECURITY_STUB(BOOL GetFileSecurityA(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD), "GetFileSecurityA")
SIM_SECURITY_STUB(BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR, LPBOOL, PACL*, LPBOOL), "GetSecurityDescriptorDacl")
SIM_SECURITY_STUB(BOOL InitializeAcl(PACL, DWORD, DWORD), "InitializeAcl")
SIM_SECURITY_STUB(BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR, DWORD), "InitializeSecurityDescriptor")
SIM_SECURITY_STUB(BOOL LookupAccountNameA(LPCSTR, LPCSTR, PSID, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE), "LookupAccountNameA")
SIM_SECURITY_STUB(BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL), "SetSecurityDescriptorDacl")
SIM_SECURITY_STUB(BOOL SetFileSecurityA(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR), "SetFileSecurityA")
DWORD GetLengthSid(PSID sid) {
  DWORD err = 0;
  Enter("GetLengthSid", err, "%p", sid);
  return 0;
}
