// A DLL that a user put beside the tool or in the current folder must never
// be loaded: every library of a whole run comes from the system folder, by
// its full path, or is a module the exe imports (in the process already).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "support.h"

namespace {

using install::Installation;

const char* const kPlantedNames[] = {"PSAPI.DLL", "VDMDBG.DLL", "sporder.dll", "ws2_32.dll",
                                     "advapi32.dll", "kernel32.dll"};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

struct Machine {
  const char* name;
  sim::Windows kind;
  bool windows_64;
};

TEST(LibraryLoads, EveryLoadOfAWholeRunNamesTheSystemFolder) {
  const Machine machines[] = {{"Windows 2000", sim::Windows::Win2000, false},
                              {"Windows XP", sim::Windows::WinXP, false},
                              {"Windows 7", sim::Windows::Win7, false},
                              {"Windows 7 64-bit", sim::Windows::Win7, true}};
  for (const Machine& m : machines) {
    SCOPED_TRACE(m.name);
    Installation inst(m.kind, m.windows_64, 1);
    inst.Plant(install::FullInstall(1));
    if (m.windows_64) inst.PlantCompanion();
    const std::string exe_dir = "C:\\Users\\Public\\Downloads";
    sim::SetExeDir(exe_dir);
    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, current);
    for (const char* dll : kPlantedNames) {
      sim::MkFile(exe_dir + "\\" + dll);
      sim::MkFile(std::string(current) + "\\" + dll);
    }
    size_t loads_while_redirected = 0;
    sim::ObserveCalls([&](const sim::Call& c) {
      if (c.name.compare(0, 11, "LoadLibrary") == 0 && sim::RedirectionDisabled()) ++loads_while_redirected;
    });

    RunResult r = RunTool("y\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(inst.Left(), std::vector<std::string>{});
    EXPECT_EQ(loads_while_redirected, 0u);

    std::string system_dir = Upper(inst.SystemDir()) + "\\";
    std::set<std::string> from_system;
    for (const sim::LibraryLoad& load : sim::LibraryLoads()) {
      SCOPED_TRACE(load.call + " " + load.name);
      EXPECT_FALSE(load.planted) << load.loaded;
      std::string name = Upper(load.name);
      if (load.loaded == "(loaded)") {
        EXPECT_EQ(name.find('\\'), std::string::npos);
        continue;
      }
      ASSERT_EQ(name.compare(0, system_dir.size(), system_dir), 0);
      EXPECT_EQ(name.find('\\', system_dir.size()), std::string::npos);
      from_system.insert(name.substr(system_dir.size()));
    }
    // ws2_32 is no import of the exe: the catalog's look before the DLLs go
    // loads it on every Windows (on 64-bit Windows the companion does the
    // rest of the catalog's work).
    std::set<std::string> expected = {"PSAPI.DLL", "VDMDBG.DLL", "WS2_32.DLL"};
    // Windows 2000 and XP keep WSCWriteProviderOrder in sporder.dll.
    if (m.kind != sim::Windows::Win7) expected.insert("SPORDER.DLL");
    EXPECT_EQ(from_system, expected);
  }
}

}  // namespace
