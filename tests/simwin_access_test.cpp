// The simulated Windows answers what Windows answers where the folder
// deletion depends on it: one row per rule, each with the source that
// recorded what Windows does. The simulation is the only judge of these
// rules here (Wine keeps no access lists and ignores a folder's read-only
// attribute), so it must never be kinder than Windows.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "simwin/machine_shell.h"
#include "support.h"

namespace {

const std::string kFolder = "C:\\Program Files\\Vendor\\App";
const std::string kLogs = kFolder + "\\logs";
const std::string kLog = kLogs + "\\a.log";
const DWORD kAll = 0x001F01FF;  // FILE_ALL_ACCESS
const NTSTATUS kOk = 0;
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022u);
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000Du);
const NTSTATUS kCannotDelete = static_cast<NTSTATUS>(0xC0000121u);
const NTSTATUS kNotEmpty = static_cast<NTSTATUS>(0xC0000101u);
const NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043u);

// A list that denies Everyone everything, passed on to files and folders
// created below (the product's locked "logs" folder).
void DenyEveryone(const std::string& path) {
  sim::SetFolderDacl(path, {{ACCESS_DENIED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, "S-1-1-0"}});
}

struct Held {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Held() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

NTSTATUS OpenBelow(const std::string& folder, const std::string& name, ACCESS_MASK access, ULONG share,
                   ULONG options, Held* out) {
  return NtOpenBelow(folder, name, access, share, options, &out->h);
}

NTSTATUS Dispose(HANDLE h) {
  IO_STATUS_BLOCK io = {};
  FILE_DISPOSITION_INFORMATION d = {TRUE};
  return NtSetInformationFile(h, &io, &d, sizeof d, FileDispositionInformation);
}

std::string NameOf(HANDLE h) {
  union {
    FILE_NAME_INFORMATION info;
    BYTE bytes[1024];
  } name = {};
  IO_STATUS_BLOCK io = {};
  if (NtQueryInformationFile(h, &io, &name, sizeof name, FileNameInformation) != kOk) return "(none)";
  return std::string(name.info.FileName, name.info.FileName + name.info.FileNameLength / 2);
}

void EnableBackupAndRestore(bool enable) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  for (const char* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
    TOKEN_PRIVILEGES p = {};
    p.PrivilegeCount = 1;
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, name, &p.Privileges[0].Luid));
    p.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr));
  }
  CloseHandle(token);
}

const ULONG kSync = FILE_SYNCHRONOUS_IO_NONALERT;
const ULONG kBackup = FILE_OPEN_FOR_BACKUP_INTENT;

TEST(SimulatedWindows, AnswersAsWindowsDoes) {
  struct Row {
    const char* rule;  // and where Windows' answer is recorded
    std::function<void()> arrange;
    std::function<long()> act;
    long expected;
  } rows[] = {
      {"a read-only folder refuses deletion (fastfat FatSetDispositionInfo; dotnet/runtime#98807)",
       [] { sim::MkDir(kLogs); sim::SetAttributes(kLogs, FILE_ATTRIBUTE_READONLY); },
       [] { Held h; OpenBelow(kFolder, "logs", DELETE, 0, 0, &h); return static_cast<long>(Dispose(h.h)); },
       kCannotDelete},
      {"RemoveDirectory of a read-only folder: ERROR_ACCESS_DENIED",
       [] { sim::MkDir(kLogs); sim::SetAttributes(kLogs, FILE_ATTRIBUTE_READONLY); },
       [] { return RemoveDirectoryA(kLogs.c_str()) ? 0L : static_cast<long>(GetLastError()); }, ERROR_ACCESS_DENIED},
      {"DELETE through the parent's FILE_DELETE_CHILD, whatever the file's own list (KB Q238018)",
       [] { sim::MkFile(kLog); DenyEveryone(kLog); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "a.log", DELETE | FILE_READ_ATTRIBUTES, 0, 0, &h)); }, kOk},
      {"FILE_READ_ATTRIBUTES through the parent's FILE_LIST_DIRECTORY (The Old New Thing, 2015-04-28)",
       [] { sim::MkFile(kLog); DenyEveryone(kLog); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "a.log", FILE_READ_ATTRIBUTES, 0, 0, &h)); }, kOk},
      {"FILE_WRITE_ATTRIBUTES only from the file's own list",
       [] { sim::MkFile(kLog); DenyEveryone(kLog); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "a.log", DELETE | FILE_WRITE_ATTRIBUTES, 0, 0, &h)); },
       kAccessDenied},
      {"SYNCHRONIZE only from the file's own list",
       [] { sim::MkFile(kLog); DenyEveryone(kLog); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "a.log", DELETE | SYNCHRONIZE, 0, kSync, &h)); },
       kAccessDenied},
      {"synchronous I/O needs SYNCHRONIZE (NtCreateFile documentation)",
       [] { sim::MkFile(kLog); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "a.log", DELETE, 0, kSync, &h)); }, kInvalidParameter},
      {"the owner gets READ_CONTROL and WRITE_DAC (Ownership of Objects)",
       [] { sim::MkDir(kLogs); DenyEveryone(kLogs); },
       [] { Held h; return static_cast<long>(OpenBelow(kFolder, "logs", READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, 0, 0, &h)); },
       kOk},
      {"... and nobody else does",
       [] { sim::MkDir(kLogs); DenyEveryone(kLogs); sim::SetOwner(kLogs, "S-1-5-18"); },
       [] { Held h; return static_cast<long>(OpenBelow(kFolder, "logs", READ_CONTROL | WRITE_DAC, 0, 0, &h)); },
       kAccessDenied},
      {"CreateFile asks SYNCHRONIZE and FILE_READ_ATTRIBUTES too (Wine's kernelbase CreateFileW)",
       [] { sim::MkDir(kLogs); DenyEveryone(kLogs); },
       [] {
         HANDLE h = CreateFileA(kLogs.c_str(), READ_CONTROL | WRITE_DAC, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
         if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
         return h == INVALID_HANDLE_VALUE ? static_cast<long>(GetLastError()) : 0L;
       },
       ERROR_ACCESS_DENIED},
      {"entries in list order: an allow before a deny grants (AccessCheck)",
       [] { sim::MkDir(kLogs);
            sim::SetFolderDacl(kLogs, {{ACCESS_ALLOWED_ACE_TYPE, 0, kAll, "S-1-5-32-544"},
                                       {ACCESS_DENIED_ACE_TYPE, 0, kAll, "S-1-1-0"}}); },
       [] { Held h; return static_cast<long>(OpenBelow(kFolder, "logs", FILE_LIST_DIRECTORY | SYNCHRONIZE, 0, kSync, &h)); },
       kOk},
      {"generic rights map to file rights: GENERIC_READ grants listing",
       [] { sim::MkDir(kLogs); sim::SetFolderDacl(kLogs, {{ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_READ, "S-1-1-0"}}); },
       [] { Held h; return static_cast<long>(OpenBelow(kFolder, "logs", FILE_LIST_DIRECTORY | SYNCHRONIZE, 0, kSync, &h)); },
       kOk},
      {"a file made in a folder takes a copy of its inheritable entries (ACE Inheritance Rules)",
       [] { sim::MkDir(kLogs); DenyEveryone(kLogs); sim::MkFile(kLog); },
       [] { return static_cast<long>(sim::FolderDacl(kLog).at(0).type * 0x100 + sim::FolderDacl(kLog).at(0).flags); },
       ACCESS_DENIED_ACE_TYPE * 0x100 + 0x10},
      {"SetKernelObjectSecurity changes one object, not what is in it",
       [] { sim::MkFile(kLog); DenyEveryone(kLog); },
       [] {
         Held h;
         OpenBelow(kFolder, "logs", READ_CONTROL | WRITE_DAC, 0, 0, &h);
         SECURITY_DESCRIPTOR sd;
         InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
         SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
         SetKernelObjectSecurity(h.h, DACL_SECURITY_INFORMATION, &sd);
         return static_cast<long>(sim::FolderDacl(kLog).size());
       },
       1},
      {"the backup privilege held but not enabled grants nothing (Privilege Constants)",
       [] { sim::MkDir(kLogs + "\\old"); DenyEveryone(kLogs + "\\old"); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "old", FILE_LIST_DIRECTORY | SYNCHRONIZE, 0, kSync | kBackup, &h)); },
       kAccessDenied},
      {"enabled, with backup intent, it grants listing",
       [] { sim::MkDir(kLogs + "\\old"); DenyEveryone(kLogs + "\\old"); EnableBackupAndRestore(true); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "old", FILE_LIST_DIRECTORY | SYNCHRONIZE, 0, kSync | kBackup, &h)); },
       kOk},
      {"... and never without backup intent",
       [] { sim::MkDir(kLogs + "\\old"); DenyEveryone(kLogs + "\\old"); EnableBackupAndRestore(true); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "old", FILE_LIST_DIRECTORY | SYNCHRONIZE, 0, kSync, &h)); },
       kAccessDenied},
      {"the restore privilege grants WRITE_DAC, FILE_WRITE_ATTRIBUTES and DELETE with backup intent",
       [] { sim::MkDir(kLogs + "\\old"); DenyEveryone(kLogs + "\\old"); DenyEveryone(kLogs); sim::SetOwner(kLogs + "\\old", "S-1-5-18");
            EnableBackupAndRestore(true); },
       [] { Held h; return static_cast<long>(OpenBelow(kLogs, "old", WRITE_DAC | FILE_WRITE_ATTRIBUTES | DELETE, 0, kBackup, &h)); },
       kOk},
      {"a FAT volume keeps no lists",
       [] { sim::MkDir(kLogs); DenyEveryone(kLogs); sim::SetVolume('C', "FAT32"); },
       [] { Held h; return static_cast<long>(OpenBelow(kFolder, "logs", FILE_LIST_DIRECTORY | DELETE | SYNCHRONIZE, 0, kSync, &h)); },
       kOk},
      {"FAT names the last element by the 8.3 name it was opened by, the folders above by their long names (FatQueryNameInfo)",
       [] { sim::SetVolume('C', "FAT32"); sim::MkDir(kLogs); sim::SetShortName("C:\\Program Files", "PROGRA~1");
            sim::SetShortName(kFolder, "APPLIC~1"); },
       [] {
         Held h;
         OpenBelow("C:\\PROGRA~1\\Vendor", "APPLIC~1", FILE_LIST_DIRECTORY, FILE_SHARE_READ, 0, &h);
         return NameOf(h.h) == "\\Program Files\\Vendor\\APPLIC~1" ? 1L : 0L;
       },
       1},
      {"a name deleted while another program holds it stays pending, and its folder is not empty (Wine's file.c test_file_disposition_information)",
       [] { sim::MkFile(kLog); sim::HoldByOtherProgram(kLog, 300); },
       [] {
         { Held f; OpenBelow(kLogs, "a.log", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, &f); Dispose(f.h); }
         Held d;
         OpenBelow(kFolder, "logs", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, &d);
         NTSTATUS before = Dispose(d.h);
         Sleep(300);  // the other program closes its handle
         return before == kNotEmpty && !sim::Exists(kLog) ? static_cast<long>(Dispose(d.h)) : -1L;
       },
       kOk},
      {"a user's open meets the sharing of a handle that shares nothing",
       [] { sim::MkDir(kLogs); sim::SetFolderDacl(kLogs, {{ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, "S-1-1-0"}}); },
       [] {
         Held h;
         OpenBelow(kFolder, "logs", DELETE | FILE_LIST_DIRECTORY, 0, 0, &h);
         bool opened = sim::UserOpen(kLogs, GENERIC_ALL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
         sim::UserCloseAll();
         return opened ? 0L : static_cast<long>(kSharingViolation);
       },
       kSharingViolation},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    sim::Reset(sim::Windows::WinXP);
    row.arrange();
    EXPECT_EQ(row.act(), row.expected);
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
  }
}

}  // namespace
