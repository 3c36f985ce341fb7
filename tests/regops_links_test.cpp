// Registry links below the product's keys: the tree deletion of Windows
// opens a link like any key and deletes what it leads to. Each case first
// shows that on the shell's tree deletion alone, then that the tool removes
// the link and leaves its target whole.
#include <gtest/gtest.h>

#include "regops/primitives.h"
#include "simwin/machine.h"

namespace {

const std::string kVictim = "HKLM\\SOFTWARE\\Victim";

void PlantVictim() {
  sim::RegSetString(kVictim + "\\Settings", "Keep", "1");
  sim::RegCreate(kVictim + "\\Deep\\Deeper");
}

bool VictimWhole() {
  return sim::RegValueExists(kVictim + "\\Settings", "Keep") && sim::RegExists(kVictim + "\\Deep\\Deeper");
}

struct Row {
  const char* comment;
  std::string link;  // where the link lies, below or at the product key
};

TEST(RegistryLinks, TheTreeDeletionRemovesLinksNeverTheirTargets) {
  const std::string product = "HKLM\\SOFTWARE\\Varlume\\ZTX";
  const Row rows[] = {
      {"a link directly below the product key", product + "\\Shared"},
      {"a link three levels down", product + "\\Settings\\Filters\\Shared"},
      {"the product key itself is a link", product},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    PlantVictim();
    sim::RegCreate(product + "\\Settings\\Filters");
    sim::RegLink(row.link, kVictim);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume\\ZTX");
    EXPECT_FALSE(VictimWhole()) << "the tree deletion alone follows the link";

    sim::Reset(sim::Windows::WinXP);
    PlantVictim();
    sim::RegCreate(product + "\\Settings\\Filters");
    sim::RegLink(row.link, kVictim);
    RegDeleteDepth = 0;
    EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume\\ZTX"), 1);
    EXPECT_TRUE(VictimWhole());
    EXPECT_FALSE(sim::RegIsLink(row.link));
    EXPECT_FALSE(sim::RegExists(product));
    EXPECT_TRUE(sim::RegExists("HKLM\\SOFTWARE\\Varlume"));
    EXPECT_EQ(sim::RegOpenHandles(), 0u);
  }
}

TEST(RegistryLinks, ALinkThatStaysStopsTheDeletion) {
  const std::string product = "HKLM\\SOFTWARE\\Varlume\\ZTX";
  sim::Reset(sim::Windows::WinXP);
  sim::RemoveExport("ntdll", "NtDeleteKey");
  PlantVictim();
  sim::RegCreate(product + "\\Settings");
  sim::RegLink(product + "\\Settings\\Shared", kVictim);
  RegDeleteDepth = 0;
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume\\ZTX"), 0);
  EXPECT_EQ(sim::CountCalls("SHDeleteKeyA"), 0u);
  EXPECT_TRUE(VictimWhole());
  EXPECT_EQ(sim::RegOpenHandles(), 0u);
}

TEST(RegistryLinks, PurgingSubkeysRemovesALinkAsALink) {
  sim::Reset(sim::Windows::Win7, true);
  PlantVictim();
  const std::string product = "HKLM\\SOFTWARE\\Varlume\\ZTX";
  sim::RegCreate(product + "\\Plain");
  sim::RegCreate(kVictim + "\\Leaf");
  sim::RegLink(product + "\\Shared", kVictim + "\\Leaf");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume\\ZTX", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key),
            ERROR_SUCCESS);
  RegDeleteKeyA(key, "Shared");
  RegCloseKey(key);
  EXPECT_FALSE(sim::RegExists(kVictim + "\\Leaf")) << "RegDeleteKeyA alone deletes the link's target";

  sim::RegCreate(kVictim + "\\Leaf");
  EXPECT_EQ(PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume\\ZTX"), 1);
  EXPECT_TRUE(sim::RegExists(kVictim + "\\Leaf"));
  EXPECT_TRUE(VictimWhole());
  EXPECT_EQ(sim::RegSubkeys(product), std::vector<std::string>());
  EXPECT_EQ(sim::RegOpenHandles(), 0u);
}

}  // namespace
