// A look at the machine that fails is not the same as finding nothing: the
// steps must not report an item removed that is still there, the edition must
// not be mistaken, the DLL gate must see what an interrupted removal leaves,
// and no block may be lost for want of a heap handle.
#include <gtest/gtest.h>

#include "probes/probes.h"
#include "files/applets.h"
#include "files/folders.h"
#include "install_fixture.h"
#include "lsp/gate.h"
#include "lsp/setup.h"
#include "lsp_catalog.h"
#include "registry/product_registry.h"
#include "support.h"

namespace {

using install::Installation;

struct Fault {
  const char* call;
  int nth;
};

TEST(FailedLookup, RegistryStepsNeverReportAKeyOrValueLeftBehind) {
  struct Row {
    const char* comment;
    bool windows_64;
    unsigned part;
    Fault fault;
  } rows[] = {
      {"product key test", false, install::kRegistry, {"RegOpenKeyExA", 1}},
      {"Run value test", false, install::kRegistry, {"RegQueryValueExA", 1}},
      {"applet path", false, install::kRegistry, {"GetSystemDirectoryA", 1}},
      {"64-bit product key test", true, install::kRegistry64, {"RegOpenKeyExA", 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    Installation inst(row.windows_64 ? sim::Windows::Win7 : sim::Windows::WinXP, row.windows_64, 1);
    inst.Plant(row.part);
    sim::FailCall(row.fault.call, row.fault.nth);
    int result = row.windows_64 ? DeleteProductRegistry64(1) : DeleteProductRegistry(1, inst.machine().generation);
    EXPECT_EQ(sim::FaultsFired(), 1u);
    EXPECT_NE(inst.Left(row.part), std::vector<std::string>{});
    EXPECT_EQ(result, 0);
    // Without the fault the same removal takes everything and says so.
    sim::ClearFaults();
    result = row.windows_64 ? DeleteProductRegistry64(1) : DeleteProductRegistry(1, inst.machine().generation);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(inst.Left(row.part), std::vector<std::string>{});
  }
}

TEST(FailedLookup, FolderStepNeverReportsAFolderLeftBehind) {
  for (Fault fault : {Fault{"GetFileAttributesA", 1}, Fault{"RegQueryValueExA", 1},
                      Fault{"SHGetSpecialFolderPathA", 1}}) {
    SCOPED_TRACE(fault.call);
    Installation inst(sim::Windows::Vista, false, 1);
    inst.Plant(install::kFolder | install::kAppData);
    sim::FailCall(fault.call, fault.nth);
    EXPECT_EQ(DeleteProductFolders(1, 5), 0);
    EXPECT_NE(inst.Left(), std::vector<std::string>{});
    EXPECT_EQ(inst.BystandersHurt(), std::vector<std::string>{});
  }
}

TEST(FailedLookup, LspDllThatCouldNotBeFoundIsNotReportedDeleted) {
  Installation inst(sim::Windows::WinXP, false, 0);
  sim::MkFile(inst.WindowsDir() + "\\ztxlsp.dll");
  // The 4th Windows-directory fetch builds the path of ztxlsp.dll for its deletion.
  sim::FailCall("GetWindowsDirectoryA", 4);
  int result = -1;
  std::string out = sim::RunWithConsole("", [&] { result = DeleteLspDlls(1); });
  EXPECT_EQ(out, install::text::Lsp(false));
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(sim::Exists(inst.WindowsDir() + "\\ztxlsp.dll"));
}

TEST(FailedLookup, GateSeesAChainWhoseLayeredEntryIsGone) {
  using namespace lsptest;
  struct Row {
    const char* comment;
    std::vector<sim::ProviderEntry> extra;
    int listed;
  } rows[] = {
      {"chain of another GUID left on a removed layered entry",
       {Entry(2002, kProductChains, 2, {2001, 1001}, u"ZTX over TCP", u"%SystemRoot%\\system32\\ZTXLSP64.DLL")},
       1},
      {"another vendor's chain left on its removed layered entry",
       {Entry(3002, kOtherLsp, 2, {3001, 1001}, u"Other over TCP", u"C:\\Other\\ztxlsp.dll.bak")},
       0},
      {"another vendor's LSP with its layered entry", {Layered(3001, kOtherLsp), Chain(3002, kOtherLsp, {3001, 1004})},
       0},
      {"nothing but the base providers", {}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    std::vector<sim::ProviderEntry> catalog = sim::BaseProviders();
    catalog.insert(catalog.end(), row.extra.begin(), row.extra.end());
    sim::SetCatalog(catalog);
    EXPECT_EQ(IsProductLspListed(), row.listed);
  }
  // A broken chain whose DLL cannot be told keeps the product's DLLs.
  sim::Reset(sim::Windows::WinXP);
  std::vector<sim::ProviderEntry> catalog = sim::BaseProviders();
  catalog.push_back(Chain(3002, kOtherLsp, {3001, 1001}));
  sim::SetCatalog(catalog);
  sim::FailProviderPath(sim::ParseGuid(kOtherLsp));
  EXPECT_EQ(IsProductLspListed(), 1);
}

TEST(FailedLookup, EditionKeyThatCannotBeOpenedOnceIsStillFound) {
  struct Row {
    const char* key;
    bool always;  // every open fails
    int edition;
  } rows[] = {
      {"HKLM\\SOFTWARE\\Corda_Vale\\KOBR_SE", false, 1},
      {"HKLM\\SOFTWARE\\ORVA\\GX_LT", false, 2},
      {nullptr, false, 0},
      {"HKLM\\SOFTWARE\\ORVA\\GX_LT", true, 1},  // nothing can be told: an edition is assumed
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key ? row.key : "no key");
    sim::Reset(sim::Windows::WinXP);
    if (row.key) sim::RegCreate(row.key);
    if (row.always) {
      sim::FailAlways("RegOpenKeyExA");
    } else {
      sim::FailCall("RegOpenKeyExA", 1);
    }
    EXPECT_EQ(GetEditionCode(), row.edition);
    EXPECT_EQ(sim::RegOpenHandles(), 0u);
  }
}

TEST(FailedLookup, SnapshotIsFreedWhenTheHeapHandleIsRefusedAtTheEnd) {
  sim::Reset(sim::Windows::WinXP);
  {
    WinsockSession winsock;
    CVLLspSetup setup(lsptest::kDirectCatalog);
    ASSERT_EQ(setup.EnumerateProviders(), 1);
    sim::FailAlways("GetProcessHeap");
  }
  sim::ClearFaults();
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
}

}  // namespace
