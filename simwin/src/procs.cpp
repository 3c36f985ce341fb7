// The entry points that the simulated loader hands out by name.
#include "state.h"

namespace sim {
namespace detail {

template <typename F>
static FARPROC P(F f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(f));
}

FARPROC ProcByName(const std::string& name) {
  static const std::map<std::string, FARPROC> table = {
      {"IsWow64Process", P(&IsWow64Process)},
      {"GetNativeSystemInfo", P(&GetNativeSystemInfo)},
      {"Wow64DisableWow64FsRedirection", P(&Wow64DisableWow64FsRedirection)},
      {"Wow64RevertWow64FsRedirection", P(&Wow64RevertWow64FsRedirection)},
      {"CreateToolhelp32Snapshot", P(&CreateToolhelp32Snapshot)},
      {"GetFileInformationByHandle", P(&GetFileInformationByHandle)},
      {"NtDeleteKey", P(&NtDeleteKey)},
      {"RegOpenKeyExW", P(&RegOpenKeyExW)},
      {"RegEnumKeyExW", P(&RegEnumKeyExW)},
      {"NtOpenFile", P(&NtOpenFile)},
      {"NtQueryDirectoryFile", P(&NtQueryDirectoryFile)},
      {"NtQueryInformationFile", P(&NtQueryInformationFile)},
      {"NtSetInformationFile", P(&NtSetInformationFile)},
      {"Process32First", P(&Process32First)},
      {"Process32Next", P(&Process32Next)},
      {"EnumProcesses", P(&EnumProcesses)},
      {"EnumProcessModules", P(&EnumProcessModules)},
      {"GetModuleFileNameExA", P(&GetModuleFileNameExA)},
      {"QueryFullProcessImageNameA", P(&QueryFullProcessImageNameA)},
      {"GetModuleFileNameExW", P(&GetModuleFileNameExW)},
      {"QueryFullProcessImageNameW", P(&QueryFullProcessImageNameW)},
      {"VDMEnumTaskWOWEx", P(&VDMEnumTaskWOWEx)},
      {"AddAccessAllowedAceEx", P(&AddAccessAllowedAceEx)},
      {"GetAclInformation", P(&GetAclInformation)},
      {"GetFileSecurityA", P(&GetFileSecurityA)},
      {"GetSecurityDescriptorDacl", P(&GetSecurityDescriptorDacl)},
      {"InitializeAcl", P(&InitializeAcl)},
      {"InitializeSecurityDescriptor", P(&InitializeSecurityDescriptor)},
      {"LookupAccountNameA", P(&LookupAccountNameA)},
      {"SetSecurityDescriptorDacl", P(&SetSecurityDescriptorDacl)},
      {"SetFileSecurityA", P(&SetFileSecurityA)},
      {"GetKernelObjectSecurity", P(&GetKernelObjectSecurity)},
      {"SetKernelObjectSecurity", P(&SetKernelObjectSecurity)},
      {"OpenProcessToken", P(&OpenProcessToken)},
      {"LookupPrivilegeValueA", P(&LookupPrivilegeValueA)},
      {"AdjustTokenPrivileges", P(&AdjustTokenPrivileges)},
      {"GetLongPathNameA", P(&GetLongPathNameA)},
      {"WSAStartup", P(&WSAStartup)},
      {"WSACleanup", P(&WSACleanup)},
      {"WSCEnumProtocols", P(&WSCEnumProtocols)},
      {"WSCGetProviderPath", P(&WSCGetProviderPath)},
      {"WSCDeinstallProvider", P(&WSCDeinstallProvider)},
      {"WSCEnumProtocols32", P(&WSCEnumProtocols32)},
      {"WSCGetProviderPath32", P(&WSCGetProviderPath32)},
      {"WSCDeinstallProvider32", P(&WSCDeinstallProvider32)},
      {"WSCInstallProvider", P(&WSCInstallProvider)},
      {"WSCUpdateProvider", P(&WSCUpdateProvider)},
      {"WSCUpdateProvider32", P(&WSCUpdateProvider32)},
      {"WSCWriteProviderOrder", P(&WSCWriteProviderOrder)},
      {"WSCWriteProviderOrder32", P(&WSCWriteProviderOrder32)},
  };
  auto it = table.find(name);
  return it == table.end() ? nullptr : it->second;
}

}  // namespace detail
}  // namespace sim
