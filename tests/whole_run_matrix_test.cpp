// Whole runs of the tool over the Windows generations, both bitnesses, the
// three editions and the states a product installation can be found in. Each
// case checks every byte printed, the exit code, what is left of the product
// and that nothing else was touched.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "simwin/machine_process.h"
#include "simwin/machine_shell.h"
#include "support.h"

namespace {

using install::Installation;
using W = sim::Windows;

enum Line {
  kReg, kRegFail, kReg64, kReg64Fail, kFold, kFoldFail, kApp, kAppFail, kApp64, kApp64Fail,
  kLsp, kLspFail, kMissing, kInfo, kInfoFail, kUninst, kAccessDenied
};

std::string TextOf(Line l) {
  using namespace install::text;
  switch (l) {
    case kReg: return Registry(true);
    case kRegFail: return Registry(false);
    case kReg64: return Registry64(true);
    case kReg64Fail: return Registry64(false);
    case kFold: return Folders(true);
    case kFoldFail: return Folders(false);
    case kApp: return Applet(true);
    case kAppFail: return Applet(false);
    case kApp64: return Applet64(true);
    case kApp64Fail: return Applet64(false);
    case kLsp: return Lsp(true);
    case kLspFail: return Lsp(false);
    case kMissing: return CompanionMissing();
    case kInfo: return InstallInfo(true);
    case kInfoFail: return InstallInfo(false);
    case kUninst: return Uninstall(true);
    case kAccessDenied: return "Access is denied.\r\n\n";
  }
  return "?";
}

using Hook = std::function<void(Installation&)>;
using Leftovers = std::function<std::vector<std::string>(const Installation&)>;

enum Summary { kRestart, kRunAgain, kCancelled };

struct Case {
  const char* name;
  W kind;
  bool windows_64;
  int edition;
  unsigned parts;  // 0: nothing of the product; kFull: what the installer leaves
  bool companion;
  std::vector<Line> lines;
  Summary summary;
  Leftovers left;            // null: nothing of the product is left
  Hook before = nullptr;     // before planting
  Hook after = nullptr;      // after planting
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

constexpr unsigned kFull = 0x80000000u;

std::vector<std::string> Nothing(const Installation&) { return {}; }

const Case kCases[] = {
    // Generation 0 on the 9x family: no all-users folders, so the Start-menu
    // folder, which the installer put in the user's menu, is not found.
    {"Win95Edition0Full", W::Win95, false, 0, kFull, false, {kReg, kApp, kLsp, kInfo, kUninst}, kRestart,
     [](const Installation& i) { return std::vector<std::string>{"path " + i.StartMenuFolder()}; }},
    {"Win98Edition2Full", W::Win98, false, 2, kFull, false, {kReg, kFold, kInfo, kUninst}, kRestart, nullptr},
    {"Win98Absent", W::Win98, false, 0, 0, false, {}, kRestart, nullptr},
    {"MeEdition1Full", W::WinMe, false, 1, kFull, false, {kReg, kFold, kInfo, kUninst}, kRestart, nullptr},
    // The logs folder's access list is reset on 2000 and XP.
    {"Win2000Edition1FullWithLockedLogs", W::Win2000, false, 1, kFull, false, {kReg, kFold, kInfo, kUninst},
     kRestart, nullptr},
    {"Win2000Edition0KeyThatCannotBeDeleted", W::Win2000, false, 0, kFull, false,
     {kRegFail, kApp, kLsp, kInfo, kUninst}, kRestart,
     [](const Installation& i) { return std::vector<std::string>{"key " + i.Key("Varlume\\ZTX")}; }, nullptr,
     [](Installation& i) { sim::RegDenyDelete(i.Key("Varlume\\ZTX\\Logs")); }},
    {"XpEdition0Full", W::WinXP, false, 0, kFull, false, {kReg, kApp, kLsp, kInfo, kUninst}, kRestart, nullptr},
    {"XpEdition2FullWithLockedLogs", W::WinXP, false, 2, kFull, false, {kReg, kFold, kInfo, kUninst}, kRestart,
     nullptr},
    // Links in every product folder: they go, what they point at stays.
    {"XpEdition1FullWithLinks", W::WinXP, false, 1, kFull, false, {kReg, kFold, kInfo, kUninst}, kRestart,
     nullptr, nullptr, [](Installation& i) { i.PlantLinks(); }},
    {"XpEdition0AppletInUse", W::WinXP, false, 0, kFull, false, {kReg, kAppFail, kLsp, kInfo, kUninst}, kRunAgain,
     [](const Installation& i) { return std::vector<std::string>{"path " + i.SystemDir() + "\\ztxcfg.cpl"}; },
     nullptr, [](Installation& i) { sim::SetInUse(i.SystemDir() + "\\ztxcfg.cpl"); }},
    // With a product folder the LSP step is silent; its failure shows in the summary alone.
    {"XpEdition1LspDllInUse", W::WinXP, false, 1, kFull, false, {kReg, kFold, kInfo, kUninst}, kRunAgain,
     [](const Installation& i) { return std::vector<std::string>{"path " + i.WindowsDir() + "\\ztxlsp.dll"}; },
     nullptr, [](Installation& i) { sim::SetInUse(i.WindowsDir() + "\\ztxlsp.dll"); }},
    {"XpEdition0OnlyAppDataFolder", W::WinXP, false, 0, install::kAppData | install::kLsp, false, {kFold},
     kRestart, nullptr},
    {"XpAbsent", W::WinXP, false, 0, 0, false, {}, kRestart, nullptr},
    {"XpEdition1FullCancelled", W::WinXP, false, 1, kFull, false, {}, kCancelled,
     [](const Installation& i) { return i.Left(); }},
    {"Server2003Edition2Full", W::Server2003, false, 2, kFull, false, {kReg, kFold, kInfo, kUninst}, kRestart,
     nullptr},
    {"VistaEdition1Full", W::Vista, false, 1, kFull, false, {kReg, kFold, kInfo, kUninst}, kRestart, nullptr},
    {"VistaEdition0InstallInfoInUse", W::Vista, false, 0, kFull, false, {kReg, kApp, kLsp, kInfoFail, kUninst},
     kRestart, [](const Installation& i) { return std::vector<std::string>{"path " + i.InstallInfoFolder()}; },
     nullptr, [](Installation& i) { sim::SetInUse(i.InstallInfoFolder() + "\\setup.ini"); }},
    // Programs that refuse to end keep their files in use: the folder stays.
    {"Win7Edition1ProgramsCannotBeStopped", W::Win7, false, 1, kFull, false,
     {kAccessDenied, kAccessDenied, kReg, kFoldFail, kInfo, kUninst}, kRestart,
     [](const Installation& i) {
       return std::vector<std::string>{"path " + i.ProductFolder(), "process ztxcfg.exe", "process ztxblk.exe"};
     },
     [](Installation& i) { i.program_settings.can_terminate = false; },
     [](Installation& i) { sim::SetInUse(i.ProgramPath("ztxblk.exe")); }},
    // The uninstaller took the registry: without the OEM key the edition is 0,
    // which still finds the OEM folders.
    {"Win7FoldersAndUninstallKeyOnly", W::Win7, false, 2, install::kFolder | install::kAppData | install::kUninstall,
     false, {kFold, kUninst}, kRestart, nullptr},
    // An OEM edition looks for its folder under Program Files only.
    {"Win7Edition1OnlyAppDataFolder", W::Win7, false, 1, install::kRegistry | install::kAppData, false, {kReg},
     kRestart, [](const Installation& i) { return std::vector<std::string>{"path " + i.AppDataFolder()}; }},
    {"Win7x64Edition0FullWithCompanion", W::Win7, true, 0, kFull, true,
     {kReg, kReg64, kApp64, kLsp, kInfo, kUninst}, kRestart, nullptr},
    {"Win7x64Edition1FullWithoutCompanion", W::Win7, true, 1, kFull, false, {kReg, kReg64, kFold, kInfo, kUninst},
     kRunAgain,
     [](const Installation& i) {
       return std::vector<std::string>{"32-bit catalog product entries", "catalog product entries",
                                       "path " + i.WindowsDir() + "\\ztxlsp.dll",
                                       "path " + i.WindowsDir() + "\\ztxlsp64.dll"};
     }},
    // The 64-bit DLL goes first; when it stays the 32-bit one is not tried.
    {"Win7x64Edition2Lsp64DllInUse", W::Win7, true, 2, kFull, true, {kReg, kReg64, kFold, kInfo, kUninst},
     kRunAgain,
     [](const Installation& i) {
       return std::vector<std::string>{"path " + i.WindowsDir() + "\\ztxlsp.dll",
                                       "path " + i.WindowsDir() + "\\ztxlsp64.dll"};
     },
     nullptr, [](Installation& i) { sim::SetInUse(i.WindowsDir() + "\\ztxlsp64.dll"); }},
    {"Win7x64AbsentWithoutCompanion", W::Win7, true, 0, 0, false, {kMissing}, kRunAgain, nullptr},
    {"Win7x64AbsentWithCompanion", W::Win7, true, 0, 0, true, {}, kRestart, nullptr},
    {"Vistax64Edition0Only64BitKeys", W::Vista, true, 0, install::kRegistry64, true, {kReg64}, kRestart, nullptr},
    // A product key with a subkey of its own cannot be purged in the 64-bit view.
    {"Vistax64Edition1NestedKeyIn64BitView", W::Vista, true, 1, kFull, true,
     {kReg, kReg64Fail, kFold, kInfo, kUninst}, kRestart,
     [](const Installation& i) { return std::vector<std::string>{"key " + i.Key64("Varlume\\ZTX")}; }, nullptr,
     [](Installation& i) { sim::RegCreate(i.Key64("Varlume\\ZTX\\Settings")); }},
    // A 64-bit applet that stays shows in its line but not in the summary.
    {"Vistax64Edition0Applet64InUse", W::Vista, true, 0, kFull, true,
     {kReg, kReg64, kApp64Fail, kLsp, kInfo, kUninst}, kRestart,
     [](const Installation& i) {
       return std::vector<std::string>{"path " + i.WindowsDir() + "\\System32\\ztxcfg64.cpl"};
     },
     nullptr, [](Installation& i) { sim::SetInUse(i.WindowsDir() + "\\System32\\ztxcfg64.cpl"); }},
    {"XpX64Edition2Full", W::XP64, true, 2, kFull, true, {kReg, kReg64, kFold, kInfo, kUninst}, kRestart, nullptr},
    // Itanium Windows of this generation before its first service pack has no
    // redirection switch: the 64-bit applet is out of reach, and that alone
    // asks for another run.
    {"XpIa64Edition0WithoutRedirectionSwitch", W::XP64, true, 0, kFull, true, {kReg, kReg64, kLsp, kInfo, kUninst},
     kRunAgain,
     [](const Installation& i) {
       return std::vector<std::string>{"path " + i.WindowsDir() + "\\System32\\ztxcfg64.cpl"};
     },
     [](Installation&) {
       sim::SetNativeProcessor(PROCESSOR_ARCHITECTURE_IA64);
       sim::RemoveExport("kernel32", "Wow64DisableWow64FsRedirection");
       sim::RemoveExport("kernel32", "Wow64RevertWow64FsRedirection");
     }},
    {"Win10x64Edition0FullWithoutCompanion", W::Win10, true, 0, kFull, false,
     {kReg, kReg64, kApp64, kMissing, kInfo, kUninst}, kRunAgain,
     [](const Installation& i) {
       return std::vector<std::string>{"32-bit catalog product entries", "catalog product entries",
                                       "path " + i.WindowsDir() + "\\ztxlsp.dll",
                                       "path " + i.WindowsDir() + "\\ztxlsp64.dll"};
     }},
};

class WholeRunMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(WholeRunMatrix, PrintsRemovesAndSpares) {
  const Case& c = GetParam();
  Installation inst(c.kind, c.windows_64, c.edition);
  if (c.before) c.before(inst);
  inst.Plant(c.parts == kFull ? install::FullInstall(c.edition) : c.parts);
  if (c.companion) inst.PlantCompanion();
  if (c.after) c.after(inst);
  std::vector<std::string> want_left = c.left ? c.left(inst) : Nothing(inst);
  ASSERT_EQ(inst.BystandersHurt(), std::vector<std::string>{});

  RunResult r = RunTool(c.summary == kCancelled ? "n\n" : "y\n");

  std::string want = install::text::Banner() + install::text::Question();
  for (Line l : c.lines) want += TextOf(l);
  if (c.summary == kRestart) want += install::text::Restart();
  if (c.summary == kRunAgain) want += install::text::RunAgain();
  if (c.summary == kCancelled) want += install::text::Cancelled();
  want += install::text::Closing();
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(inst.Left(), want_left);
  EXPECT_EQ(inst.BystandersHurt(), std::vector<std::string>{});
  EXPECT_EQ(Installation::Leaks(), std::vector<std::string>{});
  // Programs that were stopped ended with exit code 0.
  if ((c.parts == kFull || (c.parts & install::kPrograms)) && c.summary != kCancelled &&
      inst.program_settings.can_terminate) {
    EXPECT_EQ(sim::ProcessExitCode(inst.ProgramPid(0)), 0u);
    EXPECT_EQ(sim::ProcessExitCode(inst.ProgramPid(1)), 0u);
  }
  // The companion runs only on 64-bit Windows, once, with "-f".
  const auto& starts = sim::ProgramStarts();
  ASSERT_EQ(starts.size(), c.windows_64 && c.companion && c.summary != kCancelled ? 1u : 0u);
  if (!starts.empty()) {
    EXPECT_EQ(starts[0].parameters, "-f");
  }
}

// Every generation, both bitnesses, every edition and each state of an
// installation must appear somewhere in the table.
TEST(WholeRunMatrixTable, CoversEveryGenerationEditionAndState) {
  std::set<int> generations, editions;
  std::set<bool> bitness;
  bool absent = false, full = false, partial = false, in_use = false;
  for (const Case& c : kCases) {
    generations.insert(install::MachineOf(c.kind, c.windows_64).generation);
    editions.insert(c.edition);
    bitness.insert(c.windows_64);
    absent = absent || c.parts == 0;
    full = full || c.parts == kFull;
    partial = partial || (c.parts != 0 && c.parts != kFull);
    in_use = in_use || std::string(c.name).find("InUse") != std::string::npos;
  }
  EXPECT_EQ(generations, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(editions, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(bitness.size(), 2u);
  EXPECT_TRUE(absent && full && partial && in_use);
}

INSTANTIATE_TEST_SUITE_P(Cases, WholeRunMatrix, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
