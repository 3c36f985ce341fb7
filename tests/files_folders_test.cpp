#include <gtest/gtest.h>

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

// The driver's advapi32 handle, for the span of one test.
struct AdvapiLoaded {
  AdvapiLoaded() { g_AdvapiModule = LoadLibraryA("advapi32.dll"); }
  ~AdvapiLoaded() {
    if (g_AdvapiModule) FreeLibrary(g_AdvapiModule);
    g_AdvapiModule = nullptr;
  }
};

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
        EXPECT_NE(c.args.find("flags=0x114"), std::string::npos);
      }
    }
  }
}

TEST(ProductFolders, LogsAccessListIsResetOnlyOn2000AndXp) {
  struct Row {
    sim::Windows windows;
    int generation;
    int result;
  } rows[] = {{sim::Windows::Win2000, 3, 1}, {sim::Windows::WinXP, 4, 1}, {sim::Windows::Vista, 5, 0},
              {sim::Windows::Win7, 6, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.generation);
    sim::Reset(row.windows);
    AdvapiLoaded advapi;
    std::string folder = kPf + "\\ORVA\\GX_LT";
    PlantProduct(folder);
    sim::SetDenyDeleteAcl(folder + "\\logs");
    EXPECT_EQ(DeleteProductFolders(2, row.generation), row.result);
    EXPECT_EQ(sim::Exists(folder), row.result == 0);
    EXPECT_EQ(sim::CountCalls("SetKernelObjectSecurity"), row.result == 1 ? 1u : 0u);
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
      sim::SetDenyDeleteAcl(pf_folder + "\\logs");
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

TEST(FolderAcl, ResetGivesExactlyTwoInheritableEntries) {
  sim::Reset(sim::Windows::WinXP);
  AdvapiLoaded advapi;
  std::string logs = kPf + "\\ORVA\\GX_LT\\logs";
  sim::MkFile(logs + "\\a.log");
  sim::SetDenyDeleteAcl(logs);
  sim::SetDenyDeleteAcl(logs + "\\a.log");
  ResetFolderAcl(logs.c_str(), "Everyone", GENERIC_ALL);
  EXPECT_EQ(sim::FolderDacl(logs), kResetDacl);
  EXPECT_NE(sim::FolderDacl(logs + "\\a.log"), kResetDacl) << "the contents keep their own lists";
  EXPECT_EQ(sim::LiveLocalBlocks(), 0u);

  // A list with no entries, or none at all, leaves nothing to size the new
  // one by: the room for the two entries must come from elsewhere.
  for (bool null_dacl : {false, true}) {
    sim::Reset(sim::Windows::WinXP);
    AdvapiLoaded again;
    sim::MkDir(logs);
    if (null_dacl) sim::SetNullDacl(logs); else sim::SetFolderDacl(logs, {});
    ResetFolderAcl(logs.c_str(), "Everyone", GENERIC_ALL);
    EXPECT_EQ(sim::FolderDacl(logs), kResetDacl) << null_dacl;
  }
}

TEST(FolderAcl, NothingChangesWhereTheResetCannotRun) {
  struct Row {
    const char* comment;
    std::function<void()> arrange;
    const char* path;
    const char* account;
  } rows[] = {
      {"FAT32 volume", [] { sim::SetVolume('C', "FAT32"); }, nullptr, "Everyone"},
      {"drive root", [] {}, "C:\\", "Everyone"},
      {"advapi32 not loaded", [] { FreeLibrary(g_AdvapiModule); g_AdvapiModule = nullptr; }, nullptr, "Everyone"},
      {"an entry point missing", [] { sim::RemoveExport("advapi32", "AddAccessAllowedAceEx"); }, nullptr, "Everyone"},
      {"unknown account", [] {}, nullptr, "Nobody Here"},
      {"descriptor unreadable", [] { sim::FailAlways("GetKernelObjectSecurity"); }, nullptr, "Everyone"},
      {"ACL allocation fails", [] { sim::FailAlways("LocalAlloc"); }, nullptr, "Everyone"},
      {"new ACL cannot be set up", [] { sim::FailAlways("InitializeAcl"); }, nullptr, "Everyone"},
      {"second entry refused", [] { sim::FailCall("AddAccessAllowedAceEx", 2); }, nullptr, "Everyone"},
      {"descriptor refuses the DACL", [] { sim::FailAlways("SetSecurityDescriptorDacl"); }, nullptr, "Everyone"},
      {"write refused", [] { sim::FailAlways("SetKernelObjectSecurity"); }, nullptr, "Everyone"},
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
    std::string path = row.path ? row.path : logs;
    std::vector<sim::AceEntry> path_before = sim::FolderDacl(path);
    ResetFolderAcl(path.c_str(), row.account, GENERIC_ALL);
    EXPECT_EQ(sim::FolderDacl(logs), before);
    EXPECT_EQ(sim::FolderDacl(path), path_before);
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
