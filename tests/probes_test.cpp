#include <gtest/gtest.h>

#include "probes/probes.h"
#include "support.h"

namespace {

struct GenerationRow {
  sim::Windows kind;
  int generation;
  size_t version_calls;  // the basic 148-byte record is asked for when the extended one is refused
};

class Generation : public ::testing::TestWithParam<GenerationRow> {};

TEST_P(Generation, MapsVersionToCode) {
  sim::Reset(GetParam().kind);
  EXPECT_EQ(GetWindowsGeneration(), GetParam().generation);
  EXPECT_EQ(sim::CountCalls("GetVersionExA"), GetParam().version_calls);
  const std::vector<sim::Call>& calls = sim::Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().args, "size=156");
  if (GetParam().version_calls == 2) {
    EXPECT_EQ(calls.back().args, "size=148");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Generation,
    ::testing::Values(GenerationRow{sim::Windows::Win95, 0, 2},      // 4.0 of the 9x family
                      GenerationRow{sim::Windows::Win98, 1, 2},
                      GenerationRow{sim::Windows::WinMe, 2, 2},
                      GenerationRow{sim::Windows::NT4, 0, 2},
                      GenerationRow{sim::Windows::Win2000, 3, 1},
                      GenerationRow{sim::Windows::WinXP, 4, 1},
                      GenerationRow{sim::Windows::Server2003, 0, 1},  // 5.2
                      GenerationRow{sim::Windows::XP64, 0, 1},        // 5.2
                      GenerationRow{sim::Windows::Vista, 5, 1},
                      GenerationRow{sim::Windows::Win7, 6, 1},
                      GenerationRow{sim::Windows::Win8, 0, 1}));       // 6.2 as GetVersionExA reports it

TEST(GenerationEdges, UnknownPlatformAndFailedQueries) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetVersion(VER_PLATFORM_WIN32s, 5, 1, true);
  EXPECT_EQ(GetWindowsGeneration(), 0);
  sim::SetVersion(3, 6, 1, true);
  EXPECT_EQ(GetWindowsGeneration(), 0);

  sim::Reset(sim::Windows::Win7);
  sim::FailAlways("GetVersionExA");
  EXPECT_EQ(GetWindowsGeneration(), 0);
  EXPECT_EQ(sim::CountCalls("GetVersionExA"), 2u);
}

TEST(PlatformKind, FromWow64AndNativeProcessor) {
  sim::Reset(sim::Windows::WinXP);
  EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 1);
  EXPECT_EQ(Is64BitWindows(GetCurrentProcess()), 0);

  sim::Reset(sim::Windows::Win7, true);  // the 32-bit tool under WOW64
  EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 2);
  EXPECT_EQ(Is64BitWindows(GetCurrentProcess()), 1);

  sim::Reset(sim::Windows::Win7, true, true);  // a 64-bit build of the tool
  EXPECT_EQ(IsWow64(GetCurrentProcess()), 0);
  EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 3);
  EXPECT_EQ(Is64BitWindows(GetCurrentProcess()), 1);

  // A failed WOW64 query still finds the 64-bit processor.
  sim::Reset(sim::Windows::Win7, true);
  sim::FailAlways("IsWow64Process");
  EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 3);

  // An Itanium processor runs 64-bit Windows too.
  sim::Reset(sim::Windows::XP64, true, true);
  sim::SetNativeProcessor(PROCESSOR_ARCHITECTURE_IA64);
  EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 3);
  EXPECT_EQ(Is64BitWindows(GetCurrentProcess()), 1);
}

TEST(PlatformKind, SystemsWithoutTheEntryPoints) {
  for (sim::Windows kind : {sim::Windows::Win98, sim::Windows::NT4, sim::Windows::Win2000}) {
    sim::Reset(kind);
    EXPECT_FALSE(sim::HasExport("kernel32", "IsWow64Process"));
    EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 1);
    EXPECT_EQ(Is64BitWindows(GetCurrentProcess()), 0);
    EXPECT_EQ(sim::CountCalls("IsWow64Process") + sim::CountCalls("GetNativeSystemInfo"), 0u);
  }
  sim::Reset(sim::Windows::Win7, true);
  sim::RemoveExport("kernel32", "GetNativeSystemInfo");
  EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 2);
  sim::RemoveExport("kernel32", "IsWow64Process");
  EXPECT_EQ(GetPlatformKind(GetCurrentProcess()), 1);
}

TEST(EditionCode, OemKeysInTheToolsOwnView) {
  sim::Reset(sim::Windows::WinXP);
  EXPECT_EQ(GetEditionCode(), 0);
  sim::RegCreate("HKLM\\SOFTWARE\\ORVA\\GX_LT");
  EXPECT_EQ(GetEditionCode(), 2);
  sim::RegCreate("HKLM\\SOFTWARE\\Corda_Vale\\KOBR_SE");
  EXPECT_EQ(GetEditionCode(), 1);  // the first key wins when both exist

  // The 32-bit tool on 64-bit Windows sees the 32-bit view only.
  sim::Reset(sim::Windows::Win7, true);
  sim::RegCreate("HKLM\\SOFTWARE\\Corda_Vale\\KOBR_SE");
  EXPECT_EQ(GetEditionCode(), 0);
  sim::RegCreate("HKLM\\SOFTWARE\\Wow6432Node\\ORVA\\GX_LT");
  EXPECT_EQ(GetEditionCode(), 2);
}

TEST(Folders, AppDataAndStartMenuByGeneration) {
  char out[MAX_PATH];
  sim::Reset(sim::Windows::Win98);
  BuildAppDataPath("ORVA\\GX_LT", out);
  EXPECT_STREQ(out, "C:\\WINDOWS\\Application Data\\ORVA\\GX_LT");
  ASSERT_EQ(GetStartMenuProgramsPath(out), 1);
  EXPECT_STREQ(out, "C:\\WINDOWS\\Start Menu\\Programs");

  sim::Reset(sim::Windows::WinXP);
  BuildAppDataPath("ORVA\\GX_LT", out);
  EXPECT_STREQ(out, "C:\\Documents and Settings\\All Users\\Application Data\\ORVA\\GX_LT");
  ASSERT_EQ(GetStartMenuProgramsPath(out), 1);
  EXPECT_STREQ(out, "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");

  // Generation 0 (Windows 8 here) takes the all-users folders too.
  sim::Reset(sim::Windows::Win8);
  sim::SetSpecialFolder(CSIDL_COMMON_APPDATA, "D:\\");  // already ends in a backslash
  BuildAppDataPath("x", out);
  EXPECT_STREQ(out, "D:\\x");
}

TEST(Folders, FailuresLeaveEmptyPaths) {
  char out[MAX_PATH];
  sim::Reset(sim::Windows::WinXP);
  sim::FailAlways("SHGetSpecialFolderPathA");
  memset(out, 'z', sizeof out);
  BuildAppDataPath("x", out);
  EXPECT_STREQ(out, "");
  memset(out, 'z', sizeof out);
  EXPECT_EQ(GetStartMenuProgramsPath(out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetStartMenuProgramsPath(nullptr), 0);
  BuildAppDataPath(nullptr, out);
  BuildAppDataPath("x", nullptr);

  // A folder name that would not fit is refused, not cut short.
  sim::ClearFaults();
  sim::SetSpecialFolder(CSIDL_COMMON_APPDATA, "C:\\" + std::string(250, 'a'));
  BuildAppDataPath("Corda Vale\\KOBR_SE", out);
  EXPECT_STREQ(out, "");
}

TEST(Folders, AppletPaths) {
  char out[MAX_PATH];
  sim::Reset(sim::Windows::WinXP);
  BuildAppletPath(out);
  EXPECT_STREQ(out, "C:\\WINDOWS\\system32\\ztxcfg.cpl");
  BuildApplet64Path(out);
  EXPECT_STREQ(out, "C:\\WINDOWS\\system32\\ztxcfg64.cpl");
  EXPECT_EQ(sim::Calls().back().args, "size=259");

  sim::FailAlways("GetSystemDirectoryA");
  strcpy(out, "stale");
  BuildAppletPath(out);
  EXPECT_STREQ(out, "");
  BuildAppletPath(nullptr);

  sim::ClearFaults();
  sim::SetSystemDirs("C:\\W", "C:\\" + std::string(250, 's'));
  BuildAppletPath(out);
  EXPECT_STREQ(out, "");
}

struct PresenceRow {
  const char* what;
  int edition;
  std::vector<std::string> folders;  // planted
  int present;
};

TEST(ProductFolderPresence, ByEdition) {
  const std::string pf = "C:\\Program Files\\";
  const std::string ad = "C:\\Documents and Settings\\All Users\\Application Data\\";
  const PresenceRow rows[] = {
      {"nothing", 0, {}, 0},
      {"edition 1, its folder", 1, {pf + "Corda Vale\\KOBR_SE"}, 1},
      {"edition 1, only the other edition's folder", 1, {pf + "ORVA\\GX_LT"}, 0},
      {"edition 2, only under application data", 2, {ad + "ORVA\\GX_LT"}, 0},
      {"edition 0, only under application data", 0, {ad + "ORVA\\GX_LT"}, 1},
      {"edition 0, under Program Files", 0, {pf + "ORVA\\GX_LT"}, 1},
      {"a file of that name counts", 1, {}, 1},
      {"vendor folder without the product", 2, {pf + "ORVA"}, 0},
  };
  for (const PresenceRow& row : rows) {
    sim::Reset(sim::Windows::WinXP);
    for (const std::string& f : row.folders) sim::MkDir(f);
    if (std::string(row.what) == "a file of that name counts") sim::MkFile(pf + "Corda Vale\\KOBR_SE");
    EXPECT_EQ(IsProductFolderPresent(row.edition), row.present) << row.what;
  }
}

TEST(ProductFolderPresence, NothingIsDerivedFromAMissingProgramFilesValue) {
  sim::Reset(sim::Windows::WinXP);
  sim::RegSetRaw("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", REG_SZ, {});
  sim::MkDir("C:\\Corda Vale\\KOBR_SE");  // in the root of the current drive
  EXPECT_EQ(IsProductFolderPresent(1), 0);

  // A value too long for the path buffer is not read at all.
  sim::RegSetString("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                    "C:\\" + std::string(300, 'p'));
  EXPECT_EQ(IsProductFolderPresent(1), 0);
}

}  // namespace
