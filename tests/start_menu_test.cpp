// The Start-menu folder and the uninstall key that names it: the key goes
// only when the folder is gone, so that no run leaves a folder nothing names.
#include <gtest/gtest.h>

#include "install_fixture.h"
#include "probes/probes.h"
#include "support.h"

namespace {

using install::Installation;

std::string Expected(bool removed) {
  return install::text::Banner() + install::text::Question() + install::text::Uninstall(removed) +
         install::text::Restart() + install::text::Closing();
}

// A file held open in the folder (a Power User of 2000 or XP may write the
// all-users Start menu) keeps the folder, so the key stays and the line
// says so; once the file is closed the next run removes both.
TEST(StartMenuFolder, HeldOpenItKeepsTheUninstallKeyUntilARunCanRemoveBoth) {
  for (sim::Windows kind : {sim::Windows::Win2000, sim::Windows::WinXP, sim::Windows::Win7}) {
    SCOPED_TRACE(static_cast<int>(kind));
    Installation inst(kind, false, 0);
    inst.Plant(install::kUninstall);
    const std::string held = inst.StartMenuFolder() + "\\ZTX.lnk";
    sim::SetInUse(held);
    EXPECT_EQ(RunTool("y\n").out, Expected(false));
    EXPECT_EQ(inst.Left(), (std::vector<std::string>{"key " + inst.Key(std::string(kUninstallKey).substr(9)),
                                                     "path " + inst.StartMenuFolder()}));
    EXPECT_TRUE(sim::Exists(held));

    sim::SetInUse(held, false);
    EXPECT_EQ(RunTool("y\n").out, Expected(true));
    EXPECT_EQ(inst.Left(), std::vector<std::string>{});
    EXPECT_EQ(inst.BystandersHurt(), std::vector<std::string>{});
  }
}

// "DisplayName" names what the Win32 calls would find: they drop the dots
// and blanks that end a name, and keep those that begin it.
TEST(StartMenuFolder, DisplayNameIsTakenAsTheWin32CallsTakeAName) {
  struct Row {
    const char* display_name;
    const char* folder;
  } rows[] = {
      {"ZTX Web Filter.", "ZTX Web Filter"},
      {"ZTX Web Filter . .", "ZTX Web Filter"},
      {" ZTX Web Filter", " ZTX Web Filter"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.display_name);
    Installation inst(sim::Windows::WinXP, false, 0);
    const std::string programs = inst.StartMenuFolder().substr(0, inst.StartMenuFolder().rfind('\\'));
    const std::string key = inst.Key(std::string(kUninstallKey).substr(9));
    sim::RegSetString(key, "DisplayName", row.display_name);
    sim::MkFile(programs + "\\" + row.folder + "\\ZTX.lnk");
    sim::MkFile(programs + "\\ZTX Web\\keep.lnk");
    EXPECT_EQ(RunTool("y\n").out, Expected(true));
    EXPECT_FALSE(sim::Exists(programs + "\\" + row.folder));
    EXPECT_FALSE(sim::RegExists(key));
    EXPECT_TRUE(sim::Exists(programs + "\\ZTX Web\\keep.lnk"));
    EXPECT_EQ(inst.BystandersHurt(), std::vector<std::string>{});
  }
}

}  // namespace
