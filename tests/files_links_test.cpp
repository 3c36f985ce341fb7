// Links (junctions, symbolic links) inside the product's folders: the
// simulated shell of Windows 2000 and XP deletes through a folder link as the
// real one did, so each case first shows what the shell alone does to the
// link's target, then that the tool's deletion leaves the target whole.
#include <gtest/gtest.h>

#include "files/acl.h"
#include "files/applets.h"
#include "files/folders.h"
#include "probes/probes.h"
#include "simwin/machine_shell.h"
#include "support.h"

namespace {

const std::string kPf = "C:\\Program Files";
const std::string kAppData = "C:\\Documents and Settings\\All Users\\Application Data";
const std::string kPrograms = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
const char kInstallInfoName[] = "InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
const std::string kInstallInfo = kPf + "\\" + kInstallInfoName;
const std::string kUninstall = std::string("HKLM\\") + kUninstallKey;
// What the links point at: nothing of the product's.
const std::string kVictim = "C:\\WINDOWS\\Victim";
const std::string kVictimFile = "C:\\WINDOWS\\victim.ini";

void PlantVictims() {
  sim::MkFile(kVictim + "\\keep.txt");
  sim::MkFile(kVictim + "\\sub\\deep.txt");
  sim::MkFile(kVictimFile);
}

std::vector<std::string> VictimsLost() {
  std::vector<std::string> lost;
  for (const std::string& p : {kVictim + "\\keep.txt", kVictim + "\\sub\\deep.txt", kVictimFile})
    if (!sim::Exists(p)) lost.push_back(p);
  return lost;
}

// The shell's delete request alone, as the tool made it before links were
// looked for.
int ShellDelete(const std::string& path) {
  std::string list = path + std::string(2, '\0');
  SHFILEOPSTRUCTA op;
  memset(&op, 0, sizeof op);
  op.wFunc = FO_DELETE;
  op.pFrom = list.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_SIMPLEPROGRESS;
  return SHFileOperationA(&op);
}

void PlantProduct(const std::string& folder) {
  sim::MkFile(folder + "\\ztxcfg.exe");
  sim::MkFile(folder + "\\logs\\filter.log");
}

// Links planted at three depths of a folder the tool deletes.
void PlantLinksIn(const std::string& folder) {
  sim::MkLink(folder + "\\shortcut", kVictim, true);
  sim::MkLink(folder + "\\logs\\old\\archive", kVictim + "\\sub", true);
  sim::MkLink(folder + "\\logs\\settings.ini", kVictimFile, false);
}

struct Case {
  const char* comment;
  std::string deleted;            // the folder the tool deletes
  std::function<void()> plant;    // the product's items with their links
  std::function<void()> run;      // the tool's deletion
};

std::vector<Case> Cases() {
  auto start_menu = [] {
    sim::RegSetString(kUninstall, "DisplayName", "ZTX Filter");
  };
  std::string pf_folder = kPf + "\\ORVA\\GX_LT";
  std::string app_folder = kAppData + "\\Corda Vale\\KOBR_SE";
  std::string menu = kPrograms + "\\ZTX Filter";
  return {
      {"Program Files product folder", pf_folder,
       [=] { PlantProduct(pf_folder); PlantLinksIn(pf_folder); },
       [] { EXPECT_EQ(DeleteProductFolders(2, 4), 1); }},
      {"application-data product folder", app_folder,
       [=] { PlantProduct(app_folder); PlantLinksIn(app_folder); },
       [] { EXPECT_EQ(DeleteProductFolders(0, 4), 1); }},
      {"Start-menu folder", menu,
       [=] { start_menu(); sim::MkFile(menu + "\\ZTX.lnk"); PlantLinksIn(menu); },
       [] { DeleteStartMenuFolder(); }},
      {"installer-information folder", kInstallInfo,
       [] { sim::MkFile(kInstallInfo + "\\setup.ilg"); PlantLinksIn(kInstallInfo); },
       [] { EXPECT_EQ(DeleteFolder(kPf.c_str(), kInstallInfoName), 1); }},
      {"Start-menu folder that is itself a link", menu,
       [=] { start_menu(); sim::MkLink(menu, kVictim, true); },
       [] { DeleteStartMenuFolder(); }},
      {"product folder that is itself a link", pf_folder,
       [=] { sim::MkDir(kPf + "\\ORVA"); sim::MkLink(pf_folder, kVictim, true); },
       [] { EXPECT_EQ(DeleteProductFolders(2, 4), 1); }},
  };
}

TEST(Links, EveryDeletedFolderLosesItsLinksNeverTheirTargets) {
  for (sim::Windows windows : {sim::Windows::Win2000, sim::Windows::WinXP}) {
    for (const Case& c : Cases()) {
      SCOPED_TRACE(c.comment);
      sim::Reset(windows);
      // Windows 2000 keeps its folders under the same names here.
      PlantVictims();
      c.plant();
      ShellDelete(c.deleted);
      EXPECT_FALSE(VictimsLost().empty()) << "the shell alone deletes through the links";

      sim::Reset(windows);
      PlantVictims();
      c.plant();
      c.run();
      EXPECT_EQ(VictimsLost(), std::vector<std::string>());
      EXPECT_FALSE(sim::Exists(c.deleted));
      EXPECT_EQ(sim::OpenKernelHandles(), 0u);
    }
  }
}

TEST(Links, ALinkThatStaysStopsTheDeletion) {
  struct Row {
    const char* comment;
    std::function<void(const std::string& folder)> arrange;
  } rows[] = {
      {"link refuses removal", [](const std::string& f) { sim::SetDenyDelete(f + "\\logs\\old\\archive"); }},
      {"removal fails", [](const std::string&) { sim::FailAlways("NtSetInformationFile"); }},
      {"listing fails", [](const std::string&) { sim::FailCall("NtQueryDirectoryFile", 2); }},
      {"listing breaks off", [](const std::string&) { sim::FailCall("NtQueryDirectoryFile", 4); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    PlantVictims();
    std::string folder = kPf + "\\ORVA\\GX_LT";
    PlantProduct(folder);
    PlantLinksIn(folder);
    row.arrange(folder);
    EXPECT_EQ(DeleteProductFolders(2, 4), 0);
    EXPECT_EQ(sim::CountCalls("SHFileOperationA"), 0u);
    EXPECT_EQ(VictimsLost(), std::vector<std::string>());
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
  }
}

TEST(Links, TheWalkIsBoundedAndNeverCutsAPathShort) {
  auto nested = [](int levels) {
    std::string p;
    for (int i = 0; i < levels; ++i) p += "\\d";
    return p + "\\link";
  };
  // "C:\Program Files\ORVA\GX_LT\" has 28 characters.
  auto named = [](size_t path_chars) { return "\\" + std::string(path_chars - 28, 'n'); };
  struct Row {
    const char* comment;
    std::string item;  // below the folder, where nothing may go unseen
    bool link;
    int result;
  } rows[] = {
      {"a link in the deepest folder listed", nested(31), true, 1},
      {"one folder deeper", nested(32), true, 0},
      {"nested deeper than any product", nested(40), true, 0},
      {"a path of MAX_PATH less its terminator", named(MAX_PATH - 1), false, 1},
      {"one character longer", named(MAX_PATH), false, 0},
      {"a name beyond the longest path", "\\" + std::string(120, 'n') + "\\" + std::string(120, 'm') + "\\link", true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    PlantVictims();
    std::string folder = kPf + "\\ORVA\\GX_LT";
    PlantProduct(folder);
    sim::MkDir(folder + row.item.substr(0, row.item.rfind('\\')));
    if (row.link) sim::MkLink(folder + row.item, kVictim, true);
    else sim::MkFile(folder + row.item);
    EXPECT_EQ(DeleteFolder(kPf.c_str(), "ORVA\\GX_LT"), row.result);
    EXPECT_EQ(sim::Exists(folder + row.item), row.result == 0);
    EXPECT_EQ(sim::CountCalls("SHFileOperationA"), 0u);
    EXPECT_EQ(VictimsLost(), std::vector<std::string>());
  }
}

// The product's files deleted one by one: a link there is a link to remove.
TEST(Links, AFileLinkInPlaceOfAProductFileIsRemovedAsALink) {
  sim::Reset(sim::Windows::WinXP);
  PlantVictims();
  sim::MkLink("C:\\WINDOWS\\ztxlsp.dll", kVictimFile, false);
  sim::MkLink("C:\\WINDOWS\\system32\\ztxcfg.cpl", kVictimFile, false);
  EXPECT_EQ(DeleteLspDlls(0), 1);
  EXPECT_EQ(DeleteControlPanelApplet(0), 1);
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\ztxlsp.dll"));
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\system32\\ztxcfg.cpl"));
  EXPECT_EQ(VictimsLost(), std::vector<std::string>());
}

// A DACL written by path, as the reset did before it opened the folder once:
// read, then written, both through whatever the path leads to meanwhile.
void ResetByPath(const std::string& path) {
  static DWORD current[0x10014 / sizeof(DWORD)];
  DWORD needed = 0;
  ASSERT_TRUE(GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, current, sizeof current, &needed));
  DWORD sid[64] = {};
  DWORD sid_size = sizeof sid;
  char domain[64];
  DWORD domain_size = sizeof domain;
  SID_NAME_USE use = SidTypeUser;
  ASSERT_TRUE(LookupAccountNameA(nullptr, "Everyone", sid, &sid_size, domain, &domain_size, &use));
  DWORD acl[64] = {};
  ASSERT_TRUE(InitializeAcl(reinterpret_cast<PACL>(acl), sizeof acl, ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAceEx(reinterpret_cast<PACL>(acl), ACL_REVISION, CONTAINER_INHERIT_ACE,
                                    GENERIC_ALL, sid));
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(acl), FALSE));
  ASSERT_TRUE(SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, &sd));
}

TEST(LinkedLogs, NoAccessListChangesOutsideTheProduct) {
  struct Row {
    const char* comment;
    std::string folder;     // the product folder DeleteProductFolders finds
    std::string through;    // the path the reset would write through
    std::function<void()> plant;
  } rows[] = {
      {"logs is a link", kPf + "\\ORVA\\GX_LT", kPf + "\\ORVA\\GX_LT\\logs",
       [] { sim::MkFile(kPf + "\\ORVA\\GX_LT\\ztxcfg.exe");
            sim::MkLink(kPf + "\\ORVA\\GX_LT\\logs", kVictim, true); }},
      {"product folder is a link with a real logs in its target", kPf + "\\ORVA\\GX_LT",
       kPf + "\\ORVA\\GX_LT\\logs",
       [] { sim::MkDir(kVictim + "\\logs");
            sim::MkDir(kPf + "\\ORVA");
            sim::MkLink(kPf + "\\ORVA\\GX_LT", kVictim, true); }},
      {"vendor folder is a link", kAppData + "\\ORVA\\GX_LT", kAppData + "\\ORVA\\GX_LT\\logs",
       [] { sim::MkDir("C:\\WINDOWS\\Victim\\GX_LT\\logs");
            sim::MkLink(kAppData + "\\ORVA", kVictim, true); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    PlantVictims();
    row.plant();
    ResetByPath(row.through);
    EXPECT_TRUE(sim::HasOwnDacl(kVictim) || sim::HasOwnDacl(kVictim + "\\logs") ||
                sim::HasOwnDacl(kVictim + "\\GX_LT\\logs"))
        << "a write by path lands in the link's target";

    sim::Reset(sim::Windows::WinXP);
    AdvapiLoaded advapi;
    PlantVictims();
    row.plant();
    DeleteProductFolders(2, 4);
    EXPECT_EQ(sim::CountCalls("SetKernelObjectSecurity"), 0u);
    EXPECT_EQ(sim::CountCalls("SetFileSecurityA"), 0u);
    for (const std::string& p : sim::ListTree("C:\\WINDOWS")) EXPECT_FALSE(sim::HasOwnDacl(p)) << p;
    EXPECT_FALSE(sim::HasOwnDacl(kVictim));
    EXPECT_EQ(VictimsLost(), std::vector<std::string>());
    EXPECT_TRUE(sim::Exists(kVictim + "\\logs") || sim::Exists(kVictim + "\\GX_LT\\logs") ||
                std::string(row.comment) == "logs is a link");
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
  }
}

TEST(LinkedLogs, ALinkSwappedInAfterTheCheckRedirectsNothing) {
  const std::string logs = kPf + "\\ORVA\\GX_LT\\logs";
  auto swap = [logs] {
    sim::MoveNode(logs, logs + ".old");
    sim::MkLink(logs, kVictim, true);
  };
  sim::Reset(sim::Windows::WinXP);
  sim::MkDir(logs);
  PlantVictims();
  sim::OnCall("LookupAccountNameA", 1, swap);
  ResetByPath(logs);
  EXPECT_TRUE(sim::HasOwnDacl(kVictim)) << "by path, the change follows the swapped-in link";

  // The walk resets "logs" through the handle it judged: the folder swapped
  // away is the one changed, and nothing is written through the link.
  sim::Reset(sim::Windows::WinXP);
  AdvapiLoaded advapi;
  sim::MkFile(logs + "\\filter.log");
  sim::SetDenyDeleteAcl(logs);
  PlantVictims();
  uint64_t checked = sim::NodeId(logs);
  bool changed_checked = false;
  sim::OnCall("LookupAccountNameA", 1, swap);
  sim::ObserveCalls([&](const sim::Call& c) {
    if (c.name != "SetKernelObjectSecurity" && sim::CountCalls("SetKernelObjectSecurity") == 1 && !changed_checked &&
        !sim::PathOf(checked).empty())
      changed_checked = sim::FolderDacl(sim::PathOf(checked)).size() == 2;
  });
  DeleteProductFolders(2, 4);
  sim::ObserveCalls(nullptr);
  EXPECT_EQ(sim::CountCalls("SetKernelObjectSecurity"), 1u);
  EXPECT_TRUE(changed_checked) << "the folder checked is the folder changed";
  EXPECT_FALSE(sim::HasOwnDacl(kVictim));
  EXPECT_EQ(VictimsLost(), std::vector<std::string>());
  EXPECT_EQ(sim::OpenKernelHandles(), 0u);
}

}  // namespace

namespace {

// On a Japanese machine the "A" calls give U+00A5 (yen) as 0x5C, the
// backslash: a walk by ANSI names looks into a decoy "a\b" and never into
// "a¥b", where the junction is.
TEST(Links, AYenSignInANameHidesNoJunctionFromTheWalk) {
  sim::Reset(sim::Windows::WinXP);
  PlantVictims();
  std::string folder = kPf + "\\ORVA\\GX_LT";
  PlantProduct(folder);
  sim::MkFile(folder + "\\a\\b\\decoy.txt");
  sim::MkLink(folder + "\\a¥b\\archive", kVictim, true);
  EXPECT_EQ(DeleteProductFolders(2, 4), 1);
  EXPECT_EQ(VictimsLost(), std::vector<std::string>());
  EXPECT_FALSE(sim::Exists(folder));
}

}  // namespace
