#include <gtest/gtest.h>

#include "install_fixture.h"
#include "registry/product_registry.h"
#include "support.h"

namespace {

const std::string kSw = "HKLM\\SOFTWARE";
const std::string kRun = kSw + "\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kApplets = kSw +
    "\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended Properties\\"
    "{305CA226-D286-468e-B848-2B2E8E697B74} 2";

// Both OEM product keys, the vendor's, the logon value and the applet
// registration, with bystanders beside each.
void PlantEverything(const std::string& applet_path) {
  for (const char* key : {"\\Varlume\\ZTX\\Settings", "\\Corda_Vale\\KOBR_SE\\Filter",
                          "\\ORVA\\GX_LT\\Filter", "\\Varlume\\OtherProduct",
                          "\\Corda_Vale\\Other", "\\ORVA\\Other"})
    sim::RegCreate(kSw + key);
  sim::RegSetString(kRun, "ztxcfg", "ztxcfg.exe");
  sim::RegSetString(kRun, "OtherTool", "other.exe");
  sim::RegSetString(kApplets, applet_path, "");
  sim::RegSetString(kApplets, "C:\\WINDOWS\\system32\\other.cpl", "");
}

struct EditionRow {
  const char* comment;
  sim::Windows windows;
  int edition, generation;
  bool corda_gone, orva_gone, applet_gone;
};

TEST(ProductRegistry, RemovesOnlyTheEditionsItems) {
  const EditionRow rows[] = {
      {"vendor's edition: no OEM key", sim::Windows::WinXP, 0, 4, false, false, true},
      {"Corda Vale, also with the ORVA key present", sim::Windows::WinXP, 1, 4, true, false, true},
      {"ORVA", sim::Windows::Win7, 2, 6, false, true, true},
      {"Windows 98 has no applet registration to remove", sim::Windows::Win98, 0, 1, false, false, false},
  };
  for (const EditionRow& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(row.windows);
    char system_dir[MAX_PATH];
    GetSystemDirectoryA(system_dir, sizeof system_dir);
    const std::string applet = std::string(system_dir) + "\\ztxcfg.cpl";
    PlantEverything(applet);
    EXPECT_EQ(HasProductRegistry(row.edition, row.generation), 1);
    EXPECT_EQ(DeleteProductRegistry(row.edition, row.generation), 1);
    EXPECT_FALSE(sim::RegExists(kSw + "\\Varlume\\ZTX"));
    EXPECT_FALSE(sim::RegValueExists(kRun, "ztxcfg"));
    EXPECT_EQ(!sim::RegExists(kSw + "\\Corda_Vale\\KOBR_SE"), row.corda_gone);
    EXPECT_EQ(!sim::RegExists(kSw + "\\ORVA\\GX_LT"), row.orva_gone);
    EXPECT_EQ(!sim::RegValueExists(kApplets, applet), row.applet_gone);
    for (const char* kept : {"\\Varlume\\OtherProduct", "\\Corda_Vale\\Other", "\\ORVA\\Other"})
      EXPECT_TRUE(sim::RegExists(kSw + kept)) << kept;
    EXPECT_TRUE(sim::RegValueExists(kRun, "OtherTool"));
    EXPECT_TRUE(sim::RegValueExists(kApplets, "C:\\WINDOWS\\system32\\other.cpl"));
    EXPECT_EQ(sim::RegOpenHandles(), 0u);
  }
}

TEST(ProductRegistry, TestFindsEachItemAlone) {
  sim::Reset(sim::Windows::WinXP);
  EXPECT_EQ(HasProductRegistry(0, 4), 0);
  sim::RegSetString(kRun, "ztxcfg", "ztxcfg.exe");
  EXPECT_EQ(HasProductRegistry(0, 4), 1);

  sim::Reset(sim::Windows::WinXP);
  sim::RegSetString(kApplets, "C:\\WINDOWS\\system32\\ztxcfg.cpl", "");
  EXPECT_EQ(HasProductRegistry(0, 4), 1);
  EXPECT_EQ(HasProductRegistry(0, 1), 0) << "generation 1 never looks at the applet";

  sim::Reset(sim::Windows::WinXP);
  sim::RegCreate(kSw + "\\ORVA\\GX_LT");
  EXPECT_EQ(HasProductRegistry(1, 4), 0) << "another edition's key is not ours";
  EXPECT_EQ(HasProductRegistry(2, 4), 1);
}

TEST(ProductRegistry, DeepTreeGoesWholeAndAFailedPartDoesNotStopTheOthers) {
  sim::Reset(sim::Windows::WinXP);
  std::string deep = kSw + "\\Varlume\\ZTX";
  for (int level = 1; level <= 8; ++level) {
    deep += "\\L" + std::to_string(level);
    sim::RegCreate(deep + "\\Wide");
  }
  sim::RegCreate(kSw + "\\Varlume\\Sibling");
  sim::RegCreate(kSw + "\\ORVA\\GX_LT");
  sim::RegDenyDelete(kSw + "\\ORVA\\GX_LT");
  sim::RegSetString(kRun, "ztxcfg", "x");
  EXPECT_EQ(DeleteProductRegistry(2, 4), 0);
  EXPECT_FALSE(sim::RegExists(kSw + "\\Varlume\\ZTX"));
  EXPECT_FALSE(sim::RegValueExists(kRun, "ztxcfg"));
  EXPECT_TRUE(sim::RegExists(kSw + "\\Varlume\\Sibling"));
}

// The depth limit at its edge: a tree 32 levels below the product key goes
// whole; one level deeper, the deepest key stays with its ancestors and the
// step gives its failure line.
TEST(ProductRegistry, TreeAtTheDepthLimitGoesAndOneLevelDeeperStays) {
  for (int levels : {32, 33}) {
    SCOPED_TRACE(levels);
    install::Installation inst(sim::Windows::WinXP, false, 0);
    std::string deep = kSw + "\\Varlume\\ZTX";
    for (int level = 0; level < levels; ++level) deep += "\\d";
    sim::RegCreate(deep);
    std::string out = RunTool("y\n").out;
    EXPECT_NE(out.find(install::text::Registry(levels == 32)), std::string::npos);
    EXPECT_EQ(sim::RegExists(deep), levels == 33);
  }
}

TEST(ProductRegistry, SixtyFourBitViewPurgesTheVendorKeys) {
  sim::Reset(sim::Windows::Win7, true);
  // What the 32-bit tool sees by default lives under Wow6432Node.
  sim::RegCreate(kSw + "\\Wow6432Node\\Varlume\\ZTX");
  sim::RegCreate(kSw + "\\Varlume\\OtherProduct");
  sim::RegSetString(kSw + "\\Varlume", "InstallDir", "C:\\Varlume");
  sim::RegCreate(kSw + "\\Corda_Vale\\KOBR_SE");
  sim::RegCreate(kSw + "\\Corda_Vale\\Other");
  EXPECT_EQ(HasProductRegistry64(0), 0) << "siblings alone are not the product";
  EXPECT_EQ(HasProductRegistry64(1), 1);

  sim::RegCreate(kSw + "\\Varlume\\ZTX");
  EXPECT_EQ(HasProductRegistry64(0), 1);
  EXPECT_EQ(DeleteProductRegistry64(0), 1);
  EXPECT_TRUE(sim::RegSubkeys(kSw + "\\Varlume").empty());
  EXPECT_TRUE(sim::RegValueExists(kSw + "\\Varlume", "InstallDir"));
  EXPECT_EQ(sim::RegSubkeys(kSw + "\\Corda_Vale").size(), 2u) << "edition 0 touches no OEM key";
  EXPECT_TRUE(sim::RegExists(kSw + "\\Wow6432Node\\Varlume\\ZTX")) << "default view untouched";

  EXPECT_EQ(DeleteProductRegistry64(1), 1);
  EXPECT_TRUE(sim::RegExists(kSw + "\\Corda_Vale"));
  EXPECT_TRUE(sim::RegSubkeys(kSw + "\\Corda_Vale").empty());
}

}  // namespace
