#include <gtest/gtest.h>

#include <memory>

#include "files/acl.h"
#include "files/folders.h"
#include "probes/probes.h"
#include "simwin/machine_shell.h"
#include "support.h"

namespace {

const std::string kPf = "C:\\Program Files";
const std::string kXpAppData = "C:\\Documents and Settings\\All Users\\Application Data";
const std::string kXpPrograms = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
const std::string kUninstall = std::string("HKLM\\") + kUninstallKey;
const std::vector<sim::AceEntry> kResetDacl = {
    {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, GENERIC_ALL, "S-1-1-0"},
    {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, GENERIC_ALL, "S-1-1-0"}};

void PlantProduct(const std::string& folder) {
  sim::MkFile(folder + "\\ztxcfg.exe");
  sim::MkFile(folder + "\\logs\\filter.log");
}

void PlantBystanders() {
  sim::MkFile(kPf + "\\Corda Vale\\Other\\keep.txt");
  sim::MkFile(kPf + "\\Other Vendor\\App\\keep.exe");
  sim::MkFile(kXpAppData + "\\Other Vendor\\keep.dat");
}

void ExpectBystanders() {
  EXPECT_TRUE(sim::Exists(kPf + "\\Corda Vale\\Other\\keep.txt"));
  EXPECT_TRUE(sim::Exists(kPf + "\\Other Vendor\\App\\keep.exe"));
  EXPECT_TRUE(sim::Exists(kXpAppData + "\\Other Vendor\\keep.dat"));
}

TEST(ProductFolders, CandidatesByEdition) {
  struct Row {
    const char* comment;
    int edition;
    std::vector<std::string> planted, gone, kept;
  } rows[] = {
      {"edition 0 has no folder of its own: both Program Files folders go", 0,
       {kPf + "\\Corda Vale\\KOBR_SE", kPf + "\\ORVA\\GX_LT"},
       {kPf + "\\Corda Vale\\KOBR_SE", kPf + "\\ORVA\\GX_LT"}, {}},
      {"edition 2: its own folder, and whichever application-data folder exists", 2,
       {kPf + "\\Corda Vale\\KOBR_SE", kPf + "\\ORVA\\GX_LT", kXpAppData + "\\Corda Vale\\KOBR_SE"},
       {kPf + "\\ORVA\\GX_LT", kXpAppData + "\\Corda Vale\\KOBR_SE"}, {kPf + "\\Corda Vale\\KOBR_SE"}},
      {"a user's Corda Vale folder under application data hides not the edition's own", 2,
       {kPf + "\\ORVA\\GX_LT", kXpAppData + "\\Corda Vale\\KOBR_SE", kXpAppData + "\\ORVA\\GX_LT"},
       {kPf + "\\ORVA\\GX_LT", kXpAppData + "\\Corda Vale\\KOBR_SE", kXpAppData + "\\ORVA\\GX_LT"}, {}},
      {"edition 0 with the application-data folder only", 0,
       {kXpAppData + "\\ORVA\\GX_LT"}, {kXpAppData + "\\ORVA\\GX_LT"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    PlantBystanders();
    for (const std::string& p : row.planted) PlantProduct(p);
    EXPECT_EQ(DeleteProductFolders(row.edition, 4), 1);
    for (const std::string& p : row.gone) EXPECT_FALSE(sim::Exists(p)) << p;
    for (const std::string& p : row.kept) EXPECT_TRUE(sim::Exists(p)) << p;
    ExpectBystanders();
    for (const sim::Call& c : sim::Calls()) {
      if (c.name == "SHFileOperationA") {
        EXPECT_NE(c.args.find("flags=0x514"), std::string::npos);
      }
    }
  }
}

TEST(ProductFolders, LogsAccessListIsResetOnlyOn2000AndXp) {
  struct Row {
    sim::Windows windows;
    int generation;
    int result;
    bool reset;
  } rows[] = {{sim::Windows::Win2000, 3, 1, true}, {sim::Windows::WinXP, 4, 1, true}, {sim::Windows::Vista, 5, 1, false},
              {sim::Windows::Win7, 6, 1, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.generation);
    sim::Reset(row.windows);
    AdvapiLoaded advapi;
    std::string folder = kPf + "\\ORVA\\GX_LT";
    PlantProduct(folder);
    // The administrators' Full Control on the product folder lets "logs" go
    // on every Windows (FILE_DELETE_CHILD), with or without the reset.
    sim::SetDenyDeleteAcl(folder + "\\logs");
    EXPECT_EQ(DeleteProductFolders(2, row.generation), row.result);
    EXPECT_EQ(sim::Exists(folder), row.result == 0);
    EXPECT_EQ(sim::CountCalls("SetKernelObjectSecurity"), row.reset ? 1u : 0u);
  }
}

TEST(ProductFolders, ARefusedDeletionFailsTheStepButTheOtherCandidateGoes) {
  for (bool in_use : {true, false}) {
    SCOPED_TRACE(in_use ? "file in use" : "deny-delete access list");
    sim::Reset(sim::Windows::Vista);
    std::string pf_folder = kPf + "\\Corda Vale\\KOBR_SE";
    std::string app_folder = "C:\\ProgramData\\ORVA\\GX_LT";
    PlantProduct(pf_folder);
    PlantProduct(app_folder);
    if (in_use) {
      sim::SetInUse(pf_folder + "\\logs\\filter.log");
    } else {
      // Refused only where the folder above denies deleting its children too.
      sim::SetDenyDeleteAcl(pf_folder + "\\logs");
      sim::SetDenyDeleteAcl(pf_folder);
    }
    EXPECT_EQ(DeleteProductFolders(0, 5), 0);
    EXPECT_TRUE(sim::Exists(pf_folder + "\\logs"));
    EXPECT_FALSE(sim::Exists(app_folder));
  }
}

TEST(ProductFolders, NoProgramFilesValueMeansNoProgramFilesFolder) {
  sim::Reset(sim::Windows::WinXP);
  sim::RegSetRaw("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", REG_SZ,
                 std::vector<uint8_t>(600, 'x'));  // unreadable: longer than any path
  // The root of the current drive must not stand in for Program Files.
  PlantProduct("C:\\Corda Vale\\KOBR_SE");
  EXPECT_EQ(DeleteProductFolders(1, 4), 1);
  EXPECT_TRUE(sim::Exists("C:\\Corda Vale\\KOBR_SE\\ztxcfg.exe"));
}

// The reset through a handle on the folder, with the rights it needs.
bool ResetThroughHandle(const std::string& folder, const char* volume_path, const char* account,
                        ScopedLocalMemory* saved) {
  HANDLE h = INVALID_HANDLE_VALUE;
  if (NtOpenBelow(folder.substr(0, folder.rfind('\\')), folder.substr(folder.rfind('\\') + 1),
                  READ_CONTROL | WRITE_DAC, 0, 0, &h) != 0)
    return false;
  bool done = ResetFolderAcl(h, volume_path, account, GENERIC_ALL, saved);
  CloseHandle(h);
  return done;
}

TEST(FolderAcl, ResetGivesExactlyTwoInheritableEntries) {
  sim::Reset(sim::Windows::WinXP);
  AdvapiLoaded advapi;
  std::string logs = kPf + "\\ORVA\\GX_LT\\logs";
  sim::MkFile(logs + "\\a.log");
  sim::SetDenyDeleteAcl(logs);
  sim::SetDenyDeleteAcl(logs + "\\a.log");
  std::vector<sim::AceEntry> before = sim::FolderDacl(logs);
  {
    ScopedLocalMemory saved;
    EXPECT_TRUE(ResetThroughHandle(logs, kPf.c_str(), "Everyone", &saved));
    EXPECT_EQ(sim::FolderDacl(logs), kResetDacl);
    EXPECT_NE(sim::FolderDacl(logs + "\\a.log"), kResetDacl) << "the contents keep their own lists";
    HANDLE h = INVALID_HANDLE_VALUE;
    ASSERT_EQ(NtOpenBelow(kPf + "\\ORVA\\GX_LT", "logs", WRITE_DAC, 0, 0, &h), 0);
    RestoreFolderDacl(h, saved);
    CloseHandle(h);
    EXPECT_EQ(sim::FolderDacl(logs), before) << "the kept list goes back as it was";
  }
  EXPECT_EQ(sim::LiveLocalBlocks(), 0u);

  // A list with no entries, or none at all, leaves nothing to size the new
  // one by: the room for the two entries must come from elsewhere.
  for (bool null_dacl : {false, true}) {
    sim::Reset(sim::Windows::WinXP);
    AdvapiLoaded again;
    sim::MkDir(logs);
    if (null_dacl) sim::SetNullDacl(logs); else sim::SetFolderDacl(logs, {});
    ScopedLocalMemory saved;
    EXPECT_TRUE(ResetThroughHandle(logs, kPf.c_str(), "Everyone", &saved));
    EXPECT_EQ(sim::FolderDacl(logs), kResetDacl) << null_dacl;
  }
}

TEST(FolderAcl, NothingChangesWhereTheResetCannotRun) {
  struct Row {
    const char* comment;
    std::function<void()> arrange;
    const char* volume;
    const char* account;
  } rows[] = {
      {"FAT32 volume", [] { sim::SetVolume('C', "FAT32"); }, "C:\\Program Files", "Everyone"},
      {"a volume path shorter than a drive root", [] {}, "\\", "Everyone"},
      {"advapi32 not loaded", [] { FreeLibrary(g_AdvapiModule); g_AdvapiModule = nullptr; }, "C:\\Program Files", "Everyone"},
      {"an entry point missing", [] { sim::RemoveExport("advapi32", "AddAccessAllowedAceEx"); }, "C:\\Program Files", "Everyone"},
      {"unknown account", [] {}, "C:\\Program Files", "Nobody Here"},
      {"descriptor unreadable", [] { sim::FailAlways("GetKernelObjectSecurity"); }, "C:\\Program Files", "Everyone"},
      {"ACL allocation fails", [] { sim::FailAlways("LocalAlloc"); }, "C:\\Program Files", "Everyone"},
      {"new ACL cannot be set up", [] { sim::FailAlways("InitializeAcl"); }, "C:\\Program Files", "Everyone"},
      {"second entry refused", [] { sim::FailCall("AddAccessAllowedAceEx", 2); }, "C:\\Program Files", "Everyone"},
      {"descriptor refuses the DACL", [] { sim::FailAlways("SetSecurityDescriptorDacl"); }, "C:\\Program Files", "Everyone"},
      {"write refused", [] { sim::FailAlways("SetKernelObjectSecurity"); }, "C:\\Program Files", "Everyone"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    AdvapiLoaded advapi;
    std::string logs = kPf + "\\ORVA\\GX_LT\\logs";
    sim::MkDir(logs);
    sim::SetDenyDeleteAcl(logs);
    std::vector<sim::AceEntry> before = sim::FolderDacl(logs);
    row.arrange();
    ScopedLocalMemory saved;
    EXPECT_FALSE(ResetThroughHandle(logs, row.volume, row.account, &saved));
    EXPECT_EQ(sim::FolderDacl(logs), before);
    saved.Reset();
    EXPECT_EQ(sim::LiveLocalBlocks(), 0u);
  }
}

TEST(StartMenuFolder, OnlyOneFolderDirectlyInsideProgramsGoes) {
  const std::string sjis_name = Cp932("ZTXソフト表示");  // trail bytes 0x5C
  struct Row {
    const char* comment;
    std::vector<uint8_t> display_name;
    bool deleted;
  } rows[] = {
      {"plain name", {'Z', 'T', 'X', ' ', 'F', 'i', 'l', 't', 'e', 'r', 0}, true},
      {"stored without a terminator", {'Z', 'T', 'X', ' ', 'F', 'i', 'l', 't', 'e', 'r'}, true},
      {"double-byte name", std::vector<uint8_t>(sjis_name.begin(), sjis_name.end() + 1), true},
      {"parent", {'.', '.', 0}, false},
      {"self", {'.', 0}, false},
      {"dots only", {'.', '.', '.', 0}, false},
      {"climbs out", {'.', '.', '\\', '.', '.', 0}, false},
      {"nested", {'Z', 'T', 'X', '/', 'x', 0}, false},
      {"drive", {'C', ':', 0}, false},
      {"wildcard", {'Z', 'T', '*', 0}, false},
      {"control character", {'Z', '\t', 0}, false},
      {"empty", {0}, false},
      {"255 bytes, no terminator: too long for the path", std::vector<uint8_t>(255, 'A'), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    std::string name(row.display_name.begin(), row.display_name.end());
    name = name.c_str();
    // The disk keeps the name in Unicode; the value holds its code page 932 bytes.
    if (name == sjis_name) name = "ZTXソフト表示";
    sim::MkFile(kXpPrograms + "\\Other Tool\\keep.lnk");
    if (row.deleted) sim::MkFile(kXpPrograms + "\\" + name + "\\ZTX.lnk");
    sim::RegSetRaw(kUninstall, "DisplayName", REG_SZ, row.display_name);
    DeleteStartMenuFolder();
    if (row.deleted) {
      EXPECT_FALSE(sim::Exists(kXpPrograms + "\\" + name));
    }
    EXPECT_EQ(sim::CountCalls("NtOpenFile") != 0, row.deleted) << "a refused name is never opened";
    EXPECT_TRUE(sim::Exists(kXpPrograms + "\\Other Tool\\keep.lnk"));
  }
}

}  // namespace

namespace {

// On the NT family a tree goes name by name through handles, so what cannot
// go stays and everything else still goes; the step's line tells which.
TEST(FolderTree, WhatCannotGoStaysAndTheRestGoes) {
  const std::string folder = kPf + "\\ORVA\\GX_LT";
  const std::string outside = "C:\\Shared\\settings.ini";  // another name of a product file
  struct Row {
    const char* comment;
    std::function<void()> arrange;
    int result;
    std::vector<std::string> kept;  // besides the folders holding them
  } rows[] = {
      {"a file in use deep in the tree", [&] { sim::SetInUse(folder + "\\data\\sub\\index.dat"); }, 0,
       {folder + "\\data\\sub\\index.dat"}},
      {"read-only files", [&] {
         sim::SetAttributes(folder + "\\data\\sub\\index.dat", FILE_ATTRIBUTE_READONLY);
         sim::SetAttributes(folder + "\\ztxcfg.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
       }, 1, {}},
      // Clearing the attribute would change the file under its other name.
      {"a read-only file with a name outside the product", [&] {
         sim::MkFile(outside);
         sim::SetAttributes(outside, FILE_ATTRIBUTE_READONLY);
         sim::MkHardLink(folder + "\\data\\settings.ini", outside);
       }, 0, {folder + "\\data\\settings.ini"}},
      {"a refused deletion puts the read-only attribute back", [&] {
         sim::SetAttributes(folder + "\\ztxcfg.exe", FILE_ATTRIBUTE_READONLY);
         // Windows refuses the deletion that follows the attribute's clearing.
         auto cleared = std::make_shared<bool>(false);
         sim::ObserveCalls([cleared](const sim::Call& c) {
           if (c.name != "NtSetInformationFile") return;
           if (*cleared && c.args.find("class=13") != std::string::npos)
             sim::FailCall("NtSetInformationFile", static_cast<int>(sim::CountCalls("NtSetInformationFile")));
           *cleared = c.args.find("class=4") != std::string::npos;
         });
       }, 0, {folder + "\\ztxcfg.exe"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    PlantBystanders();
    PlantProduct(folder);
    sim::MkFile(folder + "\\data\\sub\\index.dat");
    sim::MkFile(folder + "\\data\\lists.dat");
    row.arrange();
    EXPECT_EQ(DeleteProductFolders(2, 5), row.result);
    sim::ObserveCalls(nullptr);
    std::vector<std::string> left;
    for (const std::string& p : sim::ListTree(kPf + "\\ORVA"))
      if (!sim::IsFolder(p)) left.push_back(p);
    EXPECT_EQ(left, row.kept);
    for (const std::string& p : row.kept)
      if (p.find("ztxcfg.exe") != std::string::npos) {
        EXPECT_EQ(GetFileAttributesA(p.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
      }
    if (sim::Exists(outside)) {
      EXPECT_EQ(GetFileAttributesA(outside.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_EQ(sim::CountCalls("SHFileOperationA"), 0u) << "the shell's error dialogs hang unattended runs";
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
    ExpectBystanders();
  }
}

// Windows 98 and Me have no links and keep the shell; every NT system goes
// through handles, and without its entry points nothing goes at all.
TEST(FolderTree, OnlyNineXUsesTheShell) {
  struct Row {
    const char* comment;
    sim::Windows windows;
    std::function<void()> arrange;
    size_t shell_calls;
    int result;
  } rows[] = {
      {"Windows 98", sim::Windows::Win98, [] {}, 1, 1},
      {"Server 2003, generation 0", sim::Windows::Server2003, [] {}, 0, 1},
      {"XP without NtQueryDirectoryFile", sim::Windows::WinXP,
       [] { sim::RemoveExport("ntdll", "NtQueryDirectoryFile"); }, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(row.windows);
    std::string folder = kPf + "\\InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
    sim::MkFile(folder + "\\setup.ini");
    row.arrange();
    EXPECT_EQ(DeleteFolder(kPf.c_str(), "InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}"),
              row.result);
    EXPECT_EQ(sim::CountCalls("SHFileOperationA"), row.shell_calls);
    EXPECT_EQ(sim::Exists(folder), row.result == 0);
  }
}

// When the product folder cannot go after its "logs" list was replaced on
// 2000 or XP, the list is written back: no folder stays open to everyone.
TEST(FolderTree, ALogsFolderThatStaysGetsItsAccessListBack) {
  for (sim::Windows windows : {sim::Windows::Win2000, sim::Windows::WinXP}) {
    for (bool in_logs : {true, false}) {
      SCOPED_TRACE(in_logs ? "a log file in use" : "a file in use beside logs");
      sim::Reset(windows);
      AdvapiLoaded advapi;
      std::string folder = kPf + "\\ORVA\\GX_LT";
      PlantProduct(folder);
      sim::MkFile(folder + "\\bin\\filter.dll");
      sim::SetDenyDeleteAcl(folder + "\\logs");
      std::vector<sim::AceEntry> before = sim::FolderDacl(folder + "\\logs");
      sim::SetInUse(in_logs ? folder + "\\logs\\filter.log" : folder + "\\bin\\filter.dll");
      EXPECT_EQ(DeleteProductFolders(2, windows == sim::Windows::WinXP ? 4 : 3), 0);
      EXPECT_EQ(sim::CountCalls("SetKernelObjectSecurity"), in_logs ? 2u : 1u);
      EXPECT_EQ(sim::Exists(folder + "\\logs"), in_logs);
      if (in_logs) {
        EXPECT_EQ(sim::FolderDacl(folder + "\\logs"), before);
      }
      EXPECT_FALSE(sim::Exists(folder + "\\ztxcfg.exe"));
      EXPECT_EQ(sim::OpenKernelHandles(), 0u);
      EXPECT_EQ(sim::LiveLocalBlocks(), 0u);
    }
  }
}

}  // namespace

namespace {

// A user who can write in the product's folder acts while the walk runs.
TEST(FolderTree, AUserWhileTheWalkRuns) {
  const std::string vendor = kPf + "\\ORVA";
  const std::string folder = vendor + "\\GX_LT";
  struct Row {
    const char* comment;
    std::function<void(int listing)> act;  // at each listing of a folder
    int result;
  } rows[] = {
      // Held without delete sharing, neither can be renamed or swapped for a link.
      {"renames the folders being deleted", [&](int listing) {
         if (listing != 2) return;
         EXPECT_FALSE(sim::UserRename(vendor, vendor + "-moved"));
         EXPECT_FALSE(sim::UserRename(folder, folder + "-moved"));
       }, 1},
      // The walk must end all the same: the step fails instead.
      {"adds a name at every listing", [&](int listing) {
         if (listing > 100000) return;  // without a bound the walk would go on as long as the user
         char name[32];
         snprintf(name, sizeof name, "\\zz%08d", listing);
         sim::UserMkLink(folder + name, "C:\\Victim", true);
       }, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    PlantBystanders();
    PlantProduct(folder);
    sim::MkFile("C:\\Victim\\keep.txt");
    sim::SetUserWritable({kPf});
    int listings = 0;
    sim::ObserveCalls([&](const sim::Call& c) {
      if (c.name == "NtQueryDirectoryFile") row.act(++listings);
    });
    EXPECT_EQ(DeleteProductFolders(2, 5), row.result);
    sim::ObserveCalls(nullptr);
    EXPECT_TRUE(sim::Exists("C:\\Victim\\keep.txt"));
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
    ExpectBystanders();
  }
}

}  // namespace
