#include "files/acl.h"

#include "common/owners.h"

HMODULE g_AdvapiModule = nullptr;

namespace {

typedef BOOL(WINAPI* AddAccessAllowedAceExFn)(PACL, DWORD, DWORD, DWORD, PSID);
typedef BOOL(WINAPI* GetAclInformationFn)(PACL, LPVOID, DWORD, ACL_INFORMATION_CLASS);
typedef BOOL(WINAPI* GetKernelObjectSecurityFn)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                                DWORD, LPDWORD);
typedef BOOL(WINAPI* GetSecurityDescriptorDaclFn)(PSECURITY_DESCRIPTOR, LPBOOL, PACL*, LPBOOL);
typedef BOOL(WINAPI* InitializeAclFn)(PACL, DWORD, DWORD);
typedef BOOL(WINAPI* InitializeSecurityDescriptorFn)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI* LookupAccountNameAFn)(LPCSTR, LPCSTR, PSID, LPDWORD, LPSTR, LPDWORD,
                                           PSID_NAME_USE);
typedef BOOL(WINAPI* SetSecurityDescriptorDaclFn)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI* SetKernelObjectSecurityFn)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);

// Windows 9x has none of these, and NT 4.0 lacks AddAccessAllowedAceEx. The
// folder's access list is read and written through one handle, so that the
// folder checked is the folder changed.
struct SecurityApi {
  AddAccessAllowedAceExFn add_ace;
  GetAclInformationFn get_acl_information;
  GetKernelObjectSecurityFn get_security;
  GetSecurityDescriptorDaclFn get_dacl;
  InitializeAclFn initialize_acl;
  InitializeSecurityDescriptorFn initialize_descriptor;
  LookupAccountNameAFn lookup_account;
  SetSecurityDescriptorDaclFn set_dacl;
  SetKernelObjectSecurityFn set_security;

  explicit SecurityApi(HMODULE m)
      : add_ace(BindProc<AddAccessAllowedAceExFn>(m, "AddAccessAllowedAceEx")),
        get_acl_information(BindProc<GetAclInformationFn>(m, "GetAclInformation")),
        get_security(BindProc<GetKernelObjectSecurityFn>(m, "GetKernelObjectSecurity")),
        get_dacl(BindProc<GetSecurityDescriptorDaclFn>(m, "GetSecurityDescriptorDacl")),
        initialize_acl(BindProc<InitializeAclFn>(m, "InitializeAcl")),
        initialize_descriptor(
            BindProc<InitializeSecurityDescriptorFn>(m, "InitializeSecurityDescriptor")),
        lookup_account(BindProc<LookupAccountNameAFn>(m, "LookupAccountNameA")),
        set_dacl(BindProc<SetSecurityDescriptorDaclFn>(m, "SetSecurityDescriptorDacl")),
        set_security(BindProc<SetKernelObjectSecurityFn>(m, "SetKernelObjectSecurity")) {}

  bool Complete() const {
    return add_ace && get_acl_information && get_security && get_dacl && initialize_acl &&
           initialize_descriptor && lookup_account && set_dacl && set_security;
  }
};

const DWORD kSidBufferSize = 1024;
const DWORD kDomainSize = 250;
const DWORD kDescriptorSize = 0x10014;
// Room for the ACL header and the two new entries beyond the account's SID.
const DWORD kAclSlack = 108;

// The volume root is the path's first three characters ("X:\\"); a shorter
// path names no volume.
bool IsNtfsVolume(const char* path) {
  if (strlen(path) < 3) return false;
  char root[4];
  memset(root, 0, sizeof root);
  memcpy(root, path, 3);
  DWORD max_component = 0;
  DWORD fs_flags = 0;
  char fs_name[80];
  memset(fs_name, 0, sizeof fs_name);
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, &max_component, &fs_flags, fs_name,
                             sizeof fs_name))
    return false;
  fs_name[sizeof fs_name - 1] = '\0';
  return strcmp(fs_name, "NTFS") == 0;
}

}  // namespace

bool ResetFolderAcl(HANDLE folder, const char* volume_path, const char* account, DWORD access_mask,
                    ScopedLocalMemory* saved) {
  if (volume_path == nullptr || account == nullptr) return false;
  if (g_AdvapiModule == nullptr) return false;
  SecurityApi api(g_AdvapiModule);
  if (!api.Complete()) return false;
  if (!IsNtfsVolume(volume_path)) return false;

  // SIDs and descriptors are read through DWORD fields: keep them aligned.
  DWORD sid[kSidBufferSize / sizeof(DWORD)];
  memset(sid, 0, sizeof sid);
  DWORD sid_size = kSidBufferSize;
  char domain[kDomainSize];
  DWORD domain_size = kDomainSize;
  SID_NAME_USE use = SidTypeUser;
  if (!api.lookup_account(nullptr, account, sid, &sid_size, domain, &domain_size, &use)) return false;

  static DWORD current[kDescriptorSize / sizeof(DWORD)];
  DWORD needed = 0;
  if (!api.get_security(folder, DACL_SECURITY_INFORMATION, current, kDescriptorSize, &needed)) return false;
  if (saved != nullptr) {
    // The list goes back if the folder cannot be deleted after all; without
    // a copy to put back, it is not replaced.
    if (needed == 0 || needed > kDescriptorSize) return false;
    saved->Reset(LocalAlloc(LMEM_FIXED, needed));
    if (!saved->Valid()) return false;
    memcpy(saved->Get(), current, needed);
  }

  SECURITY_DESCRIPTOR descriptor;
  if (!api.initialize_descriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) return false;

  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!api.get_dacl(current, &present, &dacl, &defaulted)) return false;
  // A folder without a DACL (or with a null one) has nothing to measure; the
  // new ACL is then sized from the SID alone.
  DWORD in_use = 0;
  if (present && dacl != nullptr) {
    ACL_SIZE_INFORMATION info;
    memset(&info, 0, sizeof info);
    if (!api.get_acl_information(dacl, &info, sizeof info, AclSizeInformation)) return false;
    in_use = info.AclBytesInUse;
  }

  DWORD acl_size = in_use + GetLengthSid(sid) + kAclSlack;
  ScopedLocalMemory acl_block(LocalAlloc(LMEM_ZEROINIT, acl_size));
  if (!acl_block.Valid()) return false;
  PACL acl = static_cast<PACL>(acl_block.Get());
  if (!api.initialize_acl(acl, acl_size, ACL_REVISION)) return false;
  // Files inherit the first entry; the folder itself and its subfolders the second.
  if (!api.add_ace(acl, ACL_REVISION, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, access_mask, sid)) return false;
  if (!api.add_ace(acl, ACL_REVISION, CONTAINER_INHERIT_ACE, access_mask, sid)) return false;
  if (!api.set_dacl(&descriptor, TRUE, acl, FALSE)) return false;
  return api.set_security(folder, DACL_SECURITY_INFORMATION, &descriptor) != FALSE;
}

void RestoreFolderDacl(HANDLE folder, const ScopedLocalMemory& saved) {
  if (!saved.Valid() || g_AdvapiModule == nullptr) return;
  SetKernelObjectSecurityFn set_security =
      BindProc<SetKernelObjectSecurityFn>(g_AdvapiModule, "SetKernelObjectSecurity");
  if (set_security != nullptr) set_security(folder, DACL_SECURITY_INFORMATION, saved.Get());
}
