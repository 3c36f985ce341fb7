// The folder deletion gets through wherever Windows lets the administrator
// through, and no further: the product's locked "logs" folder with the
// denies its files inherited, read-only folders, FAT and a base written in
// 8.3 form, names that other programs still hold, and the longest names.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/acl.h"
#include "files/folders.h"
#include "probes/probes.h"
#include "simwin/machine_shell.h"
#include "support.h"

namespace {

const std::string kPf = "C:\\Program Files";
const std::string kFolder = kPf + "\\ORVA\\GX_LT";
const std::string kLogs = kFolder + "\\logs";
const std::string kVictim = "C:\\Victim";
const std::vector<sim::AceEntry> kResetDacl = {
    {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, GENERIC_ALL, "S-1-1-0"},
    {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, GENERIC_ALL, "S-1-1-0"}};

// The product's service made "logs" deny Everyone everything, and wrote its
// files (and, with old_logs, a folder of old ones) there afterwards: each
// carries a copy of that deny.
void PlantLockedLogs(bool old_logs) {
  sim::MkFile(kFolder + "\\ztxcfg.exe");
  sim::MkFile(kFolder + "\\data\\lists.dat");
  sim::MkDir(kLogs);
  sim::SetFolderDacl(kLogs, {{ACCESS_DENIED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, "S-1-1-0"}});
  sim::MkFile(kLogs + "\\filter.log");
  sim::MkFile(kLogs + "\\filter.1.log");
  if (old_logs) sim::MkFile(kLogs + "\\old\\2009.log");
}

TEST(LockedLogs, GoesAsFarAsWindowsLetsTheAdministrator) {
  struct Row {
    const char* comment;
    bool privileges;      // the tool's token holds the backup and restore privileges
    const char* owner;    // of "logs"
    bool old_logs;        // a subfolder that inherited the deny
    sim::Caller caller;
    int result;
  } rows[] = {
      // The files go by DELETE through the reset list's FILE_DELETE_CHILD,
      // as the shell's DeleteFile took them; the reset by the owner's rights.
      {"as the shell did: the files that inherited the deny", false, "S-1-5-32-544", false, sim::Caller::kAdministrator, 1},
      // Nothing lists a folder whose own list refuses it, but the privileges.
      {"a subfolder that inherited the deny stays without the privileges", false, "S-1-5-32-544", true,
       sim::Caller::kAdministrator, 0},
      {"with the privileges it goes too, whoever owns logs", true, "S-1-5-18", true, sim::Caller::kAdministrator, 1},
      {"from a start-up script, as SYSTEM", true, "S-1-5-32-544", true, sim::Caller::kSystem, 1},
      // Not the owner and no privilege: the list cannot be read or written,
      // and nothing in logs may be deleted.
      {"owned by SYSTEM, no privileges: nothing in logs goes", false, "S-1-5-18", false, sim::Caller::kAdministrator, 0},
  };
  for (sim::Windows windows : {sim::Windows::Win2000, sim::Windows::WinXP}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.comment) + (windows == sim::Windows::WinXP ? " (XP)" : " (2000)"));
      sim::Reset(windows);
      sim::RunToolAs(row.caller);
      sim::SetToolHoldsBackupPrivileges(row.privileges);
      AdvapiLoaded advapi;
      PlantLockedLogs(row.old_logs);
      sim::SetOwner(kLogs, row.owner);
      sim::MkFile("C:\\Program Files\\Other\\keep.txt");
      std::vector<sim::AceEntry> before = sim::FolderDacl(kLogs);
      EXPECT_EQ(DeleteProductFolders(2, windows == sim::Windows::WinXP ? 4 : 3), row.result);
      EXPECT_EQ(sim::Exists(kFolder), row.result == 0);
      EXPECT_FALSE(sim::Exists(kFolder + "\\data")) << "the rest goes all the same";
      if (sim::Exists(kLogs)) {
        EXPECT_EQ(sim::FolderDacl(kLogs), before) << "a logs folder that stays gets its list back";
      }
      EXPECT_TRUE(sim::Exists("C:\\Program Files\\Other\\keep.txt"));
      EXPECT_FALSE(sim::ToolPrivilegesEnabled()) << "enabled for the deletion alone";
      EXPECT_EQ(sim::OpenKernelHandles(), 0u);
      EXPECT_EQ(sim::LiveLocalBlocks(), 0u);
    }
  }
}

// While the list of "logs" grants Everyone full control, the walk holds it:
// a user's open fails, and only what is in logs is deleted meanwhile.
TEST(LockedLogs, OpenToEveryoneOnlyWhileHeld) {
  for (bool privileges : {true, false}) {
    SCOPED_TRACE(privileges ? "one handle sharing nothing" : "held by the reset's own handle");
    sim::Reset(sim::Windows::WinXP);
    sim::SetToolHoldsBackupPrivileges(privileges);
    AdvapiLoaded advapi;
    PlantLockedLogs(false);
    sim::MkFile(kFolder + "\\data\\categories.dat");
    int open_calls = 0, deleted_while_open = 0, deleted = 0;
    std::vector<std::string> let_in;
    sim::ObserveCalls([&](const sim::Call& c) {
      bool disposition = c.name == "NtSetInformationFile" && c.args.find("class=13") != std::string::npos;
      deleted += disposition;
      if (!sim::Exists(kLogs) || sim::FolderDacl(kLogs) != kResetDacl) return;
      ++open_calls;
      deleted_while_open += disposition;
      // Reading alone is let in where only the reset's handle holds it.
      std::vector<DWORD> refused = {GENERIC_ALL, GENERIC_WRITE, DELETE};
      if (privileges) refused.push_back(GENERIC_READ);
      for (DWORD access : refused)
        if (sim::UserOpen(kLogs, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
          let_in.push_back(c.name + " let the user open logs with 0x" + std::to_string(access));
      sim::UserCloseAll();
    });
    EXPECT_EQ(DeleteProductFolders(2, 4), 1);
    sim::ObserveCalls(nullptr);
    EXPECT_GT(open_calls, 0);
    EXPECT_EQ(let_in, std::vector<std::string>());
    // Two log files and logs itself; the product's other files before and after.
    EXPECT_EQ(deleted_while_open, 3);
    EXPECT_EQ(deleted, 8);
    EXPECT_FALSE(sim::Exists(kFolder));
  }
}

// Windows refuses to delete a read-only folder; Explorer marks every folder
// it customises so, and a tree copied from a CD carries it.
TEST(ReadOnlyFolders, GoOnEveryNtAndOnFat) {
  const std::string programs = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
  struct Row {
    const char* comment;
    sim::Windows windows;
    const char* file_system;
    std::function<void()> arrange;
    int result;
  } rows[] = {
      {"a read-only subfolder and the product folder itself, XP", sim::Windows::WinXP, "NTFS",
       [] { sim::SetAttributes(kFolder + "\\data", FILE_ATTRIBUTE_READONLY);
            sim::SetAttributes(kFolder, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM); }, 1},
      {"the same on 2000, on FAT32", sim::Windows::Win2000, "FAT32",
       [] { sim::SetAttributes(kFolder + "\\data", FILE_ATTRIBUTE_READONLY);
            sim::SetAttributes(kFolder, FILE_ATTRIBUTE_READONLY); }, 1},
      {"a refused deletion puts the attribute back", sim::Windows::WinXP, "NTFS",
       [] {
         sim::SetAttributes(kFolder + "\\data", FILE_ATTRIBUTE_READONLY);
         // Windows refuses the folder's deletion once its attribute is cleared.
         auto cleared = std::make_shared<int>(0);
         sim::ObserveCalls([cleared](const sim::Call& c) {
           if (c.name != "NtSetInformationFile") return;
           if (*cleared == 1 && c.args.find("class=13") != std::string::npos) {
             sim::FailCall("NtSetInformationFile", static_cast<int>(sim::CountCalls("NtSetInformationFile")));
             *cleared = 2;
           }
           if (*cleared == 0 && c.args.find("class=4") != std::string::npos && sim::ListTree(kFolder + "\\data").empty())
             *cleared = 1;
         });
       }, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(row.windows);
    sim::SetVolume('C', row.file_system);
    sim::MkFile(kFolder + "\\data\\lists.dat");
    sim::MkFile(kFolder + "\\ztxcfg.exe");
    row.arrange();
    EXPECT_EQ(DeleteProductFolders(2, 5), row.result);
    sim::ObserveCalls(nullptr);
    EXPECT_EQ(sim::Exists(kFolder), row.result == 0);
    if (row.result == 0) {
      EXPECT_EQ(GetFileAttributesA((kFolder + "\\data").c_str()),
                static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
    }
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
  }

  // A read-only Start-menu folder (a desktop.ini in it) goes too.
  for (sim::Windows windows : {sim::Windows::Win2000, sim::Windows::Win7}) {
    sim::Reset(windows);
    std::string menu = (windows == sim::Windows::Win7 ? "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs" : programs) +
                       "\\ZTX Filter";
    sim::MkFile(menu + "\\desktop.ini");
    sim::SetAttributes(menu, FILE_ATTRIBUTE_READONLY);
    sim::RegSetString(std::string("HKLM\\") + kUninstallKey, "DisplayName", "ZTX Filter");
    DeleteStartMenuFolder();
    EXPECT_FALSE(sim::Exists(menu));
  }
}

// FAT names a handle opened by an 8.3 name with that name; a Program Files
// value written short must not make the walk refuse what it opened. A link
// inside is still removed as a link.
TEST(FolderNames, HoldOnFatAndWithABaseInShortForm) {
  struct Row {
    const char* comment;
    const char* file_system;
    const char* program_files;
    bool link;
  } rows[] = {
      {"FAT32, the base written short", "FAT32", "C:\\PROGRA~1", false},
      {"FAT32, the base written long", "FAT32", "C:\\Program Files", false},
      {"NTFS, the base written short, a link inside", "NTFS", "C:\\PROGRA~1", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    sim::SetVolume('C', row.file_system);
    sim::SetShortName(kPf, "PROGRA~1");
    sim::RegSetString("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", row.program_files);
    sim::MkFile(kFolder + "\\data\\lists.dat");
    sim::MkFile(kVictim + "\\keep.txt");
    if (row.link) sim::MkLink(kFolder + "\\data\\archive", kVictim, true);
    EXPECT_EQ(DeleteProductFolders(2, 4), 1);
    EXPECT_FALSE(sim::Exists(kFolder));
    EXPECT_TRUE(sim::Exists(kVictim + "\\keep.txt"));
  }
}

// An on-access scanner holds a file with delete sharing: its name stays
// until the scanner lets go, and the folder is not empty until then.
TEST(PendingNames, AreWaitedForABoundedTime) {
  struct Row {
    uint64_t held_ms;
    int result;
  } rows[] = {{300, 1}, {60000, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.held_ms);
    sim::Reset(sim::Windows::Win7);
    sim::MkFile(kFolder + "\\data\\lists.dat");
    sim::HoldByOtherProgram(kFolder + "\\data\\lists.dat", row.held_ms);
    EXPECT_EQ(DeleteProductFolders(2, 6), row.result);
    EXPECT_EQ(sim::Exists(kFolder), row.result == 0);
    EXPECT_LE(sim::NowMs(), 2000u) << "the wait is bounded";
  }
}

// Names of the longest length Windows allows, nested: the walk refuses the
// path that would not fit, never writing it past its buffer, and the rest
// still goes.
TEST(FolderTree, LongestNamesNestedUntilThePathIsRefused) {
  sim::Reset(sim::Windows::WinXP);
  std::string deep = kFolder;
  for (int level = 0; level < 4; ++level) deep += "\\" + std::string(255, static_cast<char>('a' + level));
  sim::MkFile(deep + "\\x.log");
  sim::MkFile(kFolder + "\\ztxcfg.exe");
  EXPECT_EQ(DeleteProductFolders(2, 4), 0);
  EXPECT_TRUE(sim::Exists(deep + "\\x.log"));
  EXPECT_FALSE(sim::Exists(kFolder + "\\ztxcfg.exe"));
  EXPECT_EQ(sim::OpenKernelHandles(), 0u);
}

}  // namespace
