// Removal of the product's LSP: the deinstall calls, the whole trace, the
// Winsock start-up around it, the DLL gate and the 64-bit companion.
#include <gtest/gtest.h>

#include "lsp/companion_main.h"
#include "lsp/gate.h"
#include "files/lsp_removal.h"
#include "lsp_catalog.h"

#include <algorithm>
#include <functional>

#include "simwin/machine_shell.h"
#include "support.h"

using namespace lsptest;

namespace {

std::vector<sim::ProviderEntry> ProductCatalog() {
  auto c = sim::BaseProviders();
  c.push_back(Layered(2001, kProduct));
  c.push_back(Chain(2002, kProductChains, {2001, 1001}, u"ZTX over TCP"));
  c.push_back(Chain(2003, kProduct, {2001, 1002}, u"ZTX over UDP"));
  c.push_back(Layered(3001, kOtherLsp, u"Other"));
  c.push_back(Chain(3002, kOtherLsp, {3001, 1004}, u"Other over TCPv6"));
  return c;
}


int RunRemoval() {
  WinsockSession winsock;
  CVLLspSetup setup(kDirectCatalog);
  return setup.RemoveAllLayered(&ProductLspGuid);
}

TEST(RemoveAllLayered, WholeTraceOfARemoval) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(ProductCatalog());
  EXPECT_EQ(RunRemoval(), 0);  // the final call repeats a GUID the loop already removed
  const std::string S = "CVLLspSetup::", C = S + "CreateLspEntry ", R = S + "RemoveAllLayered ",
                    L = S + "CreateLayeredEntriesByGuid ", E = "\r\n";
  std::vector<std::string> expected = {
      R + "[c4f0a2b7-58d1-4e36-9b2a71e5d3c08f64]" + E,
      S + "GetProviderCount complate type:[0] count:[2]" + E,
      S + "IsFirstId cat:[2001] chain:[0] id:[2001]" + E,
      S + "IsFirstId cat:[2002] chain:[2001] id:[2001]" + E,
      S + "IsFirstId cat:[2003] chain:[2001] id:[2001]" + E,
      C + "dispatch index:[0] name:[ZTX Layered] dum:[c4f0a2b7] count:[3]" + E,
      S + "IsFirstId cat:[2001] chain:[0] id:[2001]" + E,
      C + "add first layer count:[0] guid:[c4f0a2b7] guidcount:[1]" + E,
      S + "IsFirstId cat:[2002] chain:[2001] id:[2001]" + E,
      C + "add layer count:[1] guid:[5a3e9d10] guidcount:[2]" + E,
      S + "IsFirstId cat:[2003] chain:[2001] id:[2001]" + E,
      C + "layer exists guid:[c4f0a2b7]" + E,
      S + "IsFirstId cat:[3001] chain:[0] id:[3001]" + E,
      S + "IsFirstId cat:[3002] chain:[3001] id:[3001]" + E,
      C + "dispatch index:[1] name:[Other] dum:[1b2c3d4e] count:[2]" + E,
      S + "IsFirstId cat:[3001] chain:[0] id:[3001]" + E,
      C + "add first layer count:[0] guid:[1b2c3d4e] guidcount:[1]" + E,
      S + "IsFirstId cat:[3002] chain:[3001] id:[3001]" + E,
      C + "layer exists guid:[1b2c3d4e]" + E,
      S + "GetProviderCount complate type:[1] count:[6]" + E,
      C + "add base list id:[1001]" + E,
      C + "add base list id:[1002]" + E,
      C + "add base list id:[1003]" + E,
      C + "add base list id:[1004]" + E,
      C + "add base list id:[1005]" + E,
      C + "add base list id:[1006]" + E,
      C + "add base list count:[6]" + E,
      C + "set index:[0] entry:[1] order:[1]" + E,
      C + "set index:[0] entry:[2] order:[1]" + E,
      C + "set index:[1] entry:[1] order:[1]" + E,
      C + "complate:[*] count:[2]" + E,
      R + "check entry count:[2]" + E,
      R + "match guid index:[0] cat:[2001] dum:[c4f0a2b7] target:[c4f0a2b7]" + E,
      R + "uninstall guid:[c4f0a2b7] count:[2]" + E,
      L + "entry:[3] guid:[c4f0a2b7]" + E,
      L + "entry:[3] guid:[c4f0a2b7] count:[2]" + E,
      L + "complete:[*]" + E,
      R + "associated id:[2001] name:[ZTX Layered]" + E,
      R + "associated id:[2003] name:[ZTX over UDP]" + E,
      R + "WSCDeinstallProvider index:[0] entry:[0]" + E,
      L + "entry:[3] guid:[5a3e9d10]" + E,
      L + "entry:[3] guid:[5a3e9d10] count:[1]" + E,
      L + "complete:[*]" + E,
      R + "associated id:[2002] name:[ZTX over TCP]" + E,
      R + "WSCDeinstallProvider index:[0] entry:[1]" + E,
      R + "uninstall lsp id:[2001] name:[ZTX Layered]" + E,
      R + "WSCDeinstallProvider base uninstall error ret:[ffffffff] error:[10022]" + E,
      R + "complete result:[0]" + E,
  };
  EXPECT_EQ(Trace(), expected);
  EXPECT_EQ(GuidsOf(sim::DeinstallCalls()), (std::vector<std::string>{kProduct, kProductChains, kProduct}));
  // The other LSP and every base provider stay.
  std::vector<DWORD> left;
  for (const auto& e : sim::CatalogEntries()) left.push_back(e.id);
  EXPECT_EQ(left, (std::vector<DWORD>{1001, 1002, 1003, 1004, 1005, 1006, 3001, 3002}));
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
  EXPECT_EQ(sim::WinsockStartedCount(), 0);
}

TEST(RemoveAllLayered, AFailedDeinstallDoesNotStopTheNext) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(ProductCatalog());
  sim::FailCall("WSCDeinstallProvider", 1, WSAEINVAL);
  // The final call now removes the layered GUID itself and decides the result.
  EXPECT_EQ(RunRemoval(), 1);
  auto calls = sim::DeinstallCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].result, SOCKET_ERROR);
  EXPECT_EQ(calls[1].result, 0);
  EXPECT_EQ(calls[2].result, 0);
  auto trace = Trace();
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "CVLLspSetup::RemoveAllLayered WSCDeinstallProvider layered uninstall error ret:[ffffffff] "
                      "error:[10022] guid:[c4f0a2b7]\r\n"),
            trace.end());
  EXPECT_EQ(trace.back(), "CVLLspSetup::RemoveAllLayered complete result:[1]\r\n");
}

TEST(RemoveAllLayered, NothingDeinstalledWhenAbsentBaselessOrUnreadable) {
  struct Case {
    const char* name;
    std::vector<sim::ProviderEntry> catalog;
    const char* fail;
    const char* last;
  } cases[] = {
      {"absent", sim::BaseProviders(), nullptr, "CVLLspSetup::RemoveAllLayered no match guid target:[c4f0a2b7]\r\n"},
      {"no base", {Layered(2001, kProduct), Chain(2002, kProduct, {2001, 1001})}, nullptr,
       "CVLLspSetup::RemoveAllLayered CreateLspEntry error\r\n"},
      {"unreadable", ProductCatalog(), "WSCEnumProtocols", "CVLLspSetup::RemoveAllLayered EnumerateProviders error\r\n"},
      {"no copy", ProductCatalog(), "HeapAlloc",
       "CVLLspSetup::RemoveAllLayered CreateLayeredEntriesByGuid error\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset(sim::Windows::WinXP);
    sim::SetCatalog(c.catalog);
    // The ninth allocation is the first record copy of the deinstall loop.
    if (c.fail != nullptr) sim::FailCall(c.fail, std::string(c.fail) == "HeapAlloc" ? 9 : 1, WSAEFAULT);
    EXPECT_EQ(RunRemoval(), 0);
    EXPECT_TRUE(sim::DeinstallCalls().empty());
    auto trace = Trace();
    bool built = std::string(c.name) == "absent" || std::string(c.name) == "no copy";
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[trace.size() - (built ? 2 : 1)], c.last);
    EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
  }
}

TEST(RemoveAllLayered, EveryRecordCarryingTheTargetIsHandled) {
  // A second installation under chains of its own: its record goes in the
  // same run, each record as the first, in the order of the records.
  const char* twin_chains = "{7D3E9D10-2B44-4C1F-8E77-0D9A6B21C3F5}";
  sim::Reset(sim::Windows::WinXP);
  auto c = sim::BaseProviders();
  c.push_back(Layered(2001, kProduct));
  c.push_back(Chain(2002, kProductChains, {2001, 1001}));
  c.push_back(Layered(2101, kProduct, u"Twin"));
  c.push_back(Chain(2102, twin_chains, {2101, 1002}));
  sim::SetCatalog(c);
  RunRemoval();
  EXPECT_EQ(GuidsOf(sim::DeinstallCalls()), (std::vector<std::string>{kProduct, kProductChains, kProduct, kProduct,
                                                                      twin_chains, kProduct}));
  EXPECT_EQ(sim::CatalogEntries().size(), sim::BaseProviders().size());
}

TEST(RemoveProductLsp, CleansUpWinsockOnceBeforeTheDllsAndDeletesThemOnceUnlisted) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(ProductCatalog());
  sim::MkFile("C:\\WINDOWS\\ztxlsp.dll");
  EXPECT_EQ(RemoveProductLsp(0), 1);
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\ztxlsp.dll"));
  EXPECT_EQ(sim::WinsockStartedCount(), 0);
  // The step's own clean-up comes right after its removal, before the gate starts Winsock again.
  std::vector<std::string> winsock;
  for (const auto& call : sim::Calls())
    if (call.name == "WSAStartup" || call.name == "WSACleanup" || call.name == "WSCDeinstallProvider")
      winsock.push_back(call.name);
  EXPECT_EQ(winsock, (std::vector<std::string>{"WSAStartup", "WSCDeinstallProvider", "WSCDeinstallProvider",
                                               "WSCDeinstallProvider", "WSACleanup", "WSAStartup", "WSACleanup"}));
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
}

TEST(RemoveProductLsp, KeepsTheDllWhileTheProviderIsStillListed) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(ProductCatalog());
  sim::FailDeinstall(sim::ParseGuid(kProduct));
  sim::MkFile("C:\\WINDOWS\\ztxlsp.dll");
  EXPECT_EQ(RemoveProductLsp(0), 0);
  EXPECT_TRUE(sim::Exists("C:\\WINDOWS\\ztxlsp.dll"));

  // Without DLLs and with no Winsock at all, the step still cleans up once and succeeds.
  sim::Reset(sim::Windows::WinXP);
  sim::AcceptWinsockVersions({});
  sim::ClearCalls();
  EXPECT_EQ(RemoveProductLsp(1), 1);
  EXPECT_EQ(sim::CountCalls("WSACleanup"), 6u);  // five after refusals, one for the step
}

TEST(ProductLspGate, AnswersFromAFreshLookAtTheCatalog) {
  sim::Reset(sim::Windows::WinXP);
  EXPECT_EQ(IsProductLspListed(), 0);
  sim::SetCatalog(ProductCatalog());
  EXPECT_EQ(IsProductLspListed(), 1);
  sim::FailAlways("WSCEnumProtocols", WSAEFAULT);
  EXPECT_EQ(IsProductLspListed(), 1);  // unreadable may still list it: the DLLs stay
  EXPECT_EQ(sim::WinsockStartedCount(), 0);
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
}

int Companion(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  return CompanionMain(static_cast<int>(argv.size()), argv.data());
}

TEST(Companion, RemovesTheProductFromBothCatalogsOfSixtyFourBitWindows) {
  sim::Reset(sim::Windows::Win7, true, true);
  sim::SetCatalog(ProductCatalog(), sim::Catalog::Native);
  sim::SetCatalog(ProductCatalog(), sim::Catalog::Wow32);
  EXPECT_EQ(Companion({"ztxins64.exe", "-f"}), 0);
  for (auto which : {sim::Catalog::Native, sim::Catalog::Wow32})
    for (const auto& e : sim::CatalogEntries(which)) EXPECT_FALSE(sim::SameGuid(e.guid, ProductLspGuid));
  EXPECT_EQ(sim::CountCalls("WSCDeinstallProvider"), 3u);
  EXPECT_EQ(sim::CountCalls("WSCDeinstallProvider32"), 3u);
  EXPECT_EQ(sim::WinsockStartedCount(), 0);
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
  EXPECT_EQ(sim::LoadedCount("ws2_32"), 0);

  // An entry left in the 32-bit catalog makes it fail.
  sim::Reset(sim::Windows::Win7, true, true);
  sim::SetCatalog(ProductCatalog(), sim::Catalog::Wow32);
  sim::FailDeinstall(sim::ParseGuid(kProductChains), sim::Catalog::Wow32);
  EXPECT_EQ(Companion({"ztxins64.exe", "-f"}), 1);

  // An unreadable catalog is not a clean one.
  sim::Reset(sim::Windows::Win7, true, true);
  sim::FailAlways("WSCEnumProtocols", WSAEFAULT);
  EXPECT_EQ(Companion({"ztxins64.exe", "-f"}), 1);
}

TEST(Companion, SkipsTheThirtyTwoBitCatalogWhereItsFunctionsAreMissing) {
  sim::Reset(sim::Windows::Win7, true, true);
  sim::RemoveExport("ws2_32", "WSCGetProviderPath32");
  sim::SetCatalog(ProductCatalog(), sim::Catalog::Native);
  EXPECT_EQ(Companion({"ztxins64.exe", "-f"}), 0);
  EXPECT_EQ(sim::CountCalls("WSCEnumProtocols32"), 0u);
  EXPECT_EQ(sim::DebugLines().back(), "CVLLspSetup::Companion 32-bit catalog functions missing: catalog skipped\r\n");
}

TEST(Companion, ACleanCatalogIsTracedAsNoMatchAndLeftAlone) {
  sim::Reset(sim::Windows::Win7, true, true);
  sim::RemoveExport("ws2_32", "WSCEnumProtocols32");
  EXPECT_EQ(Companion({"ztxins64.exe", "-f"}), 0);
  std::vector<std::string> lines = sim::DebugLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.rfind("CVLLspSetup::RemoveAllLayered no match guid target:", 0) == 0;
                          }),
            1);
  EXPECT_EQ(sim::CountCalls("WSCDeinstallProvider"), 0u);
  EXPECT_EQ(sim::CatalogEntries().size(), sim::BaseProviders().size());
}

TEST(Companion, AnyOtherArgumentsPrintUsageAndChangeNothing) {
  for (std::vector<std::string> args : {std::vector<std::string>{"ztxins64.exe"},
                                        std::vector<std::string>{"ztxins64.exe", "-F"},
                                        std::vector<std::string>{"ztxins64.exe", "-f", "-f"}}) {
    sim::Reset(sim::Windows::Win7, true, true);
    sim::SetCatalog(ProductCatalog());
    testing::internal::CaptureStderr();
    EXPECT_EQ(Companion(args), 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("usage: ztxins64 -f", 0), 0u);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_TRUE(sim::Calls().empty());
  }
}

}  // namespace

namespace {

std::string Output(const std::function<void()>& f) { return sim::RunWithConsole("", f); }

// Windows 7's base providers, the product's LSP, and another vendor's LSP
// stacked over it (its chains end in the product's layered entry, then TCP).
std::vector<sim::ProviderEntry> StackedCatalog() {
  auto c = sim::BaseProviders();
  c.push_back(Layered(2001, kProduct));
  c.push_back(Chain(2002, kProductChains, {2001, 1001}));
  c.push_back(Layered(3001, kOtherLsp, u"Other Layered"));
  c.push_back(Chain(3002, kOtherLsp, {3001, 2001, 1001}, u"Other over ZTX"));
  return c;
}

void ExpectRepaired(sim::Catalog which) {
  auto left = sim::CatalogEntries(which);
  ASSERT_EQ(left.size(), sim::BaseProviders().size() + 2);
  EXPECT_EQ(left[6].id, 3001u);
  EXPECT_EQ(left[7].id, 3002u);
  EXPECT_EQ(left[7].chain, (std::vector<DWORD>{3001, 1001}));
  EXPECT_EQ(left[7].path, LspPath(kOtherLsp));
}

}  // namespace

TEST(RemoveProductLsp, RepairsAVendorStackedOverTheProductOrLeavesEverythingWhole) {
  // Windows XP: the vendor's chain keeps its id and place, without the product.
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(StackedCatalog());
  sim::MkFile("C:\\WINDOWS\\ztxlsp.dll");
  EXPECT_EQ(RemoveProductLsp(0), 1);
  ExpectRepaired(sim::Catalog::Native);
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\ztxlsp.dll"));
  EXPECT_EQ(sim::CountCalls("WSCUpdateProvider"), 1u);
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
  EXPECT_EQ(sim::LoadedCount("ws2_32"), 0);

  // Windows 2000 has no WSCUpdateProvider: the chains are installed again
  // under new ids. That cannot be done for a GUID that also carries the
  // vendor's layered entry (its chains would lose it): nothing changes.
  sim::Reset(sim::Windows::Win2000);
  sim::SetCatalog(StackedCatalog());
  EXPECT_EQ(RemoveProductLsp(0), 0);
  EXPECT_EQ(sim::CatalogEntries().size(), StackedCatalog().size());
  EXPECT_TRUE(sim::CatalogCalls().empty());
  // With chains under a GUID of their own, they come back under a new id and
  // the order is written back (through sporder.dll).
  sim::Reset(sim::Windows::Win2000);
  auto c = StackedCatalog();
  c.back() = Entry(3002, "{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F1}", 3, {3001, 2001, 1001}, u"Other over ZTX",
                   LspPath(kOtherLsp));
  sim::SetCatalog(c);
  EXPECT_EQ(RemoveProductLsp(0), 1);
  auto left = sim::CatalogEntries();
  ASSERT_EQ(left.size(), 8u);
  EXPECT_EQ(left[6].id, 3001u);
  EXPECT_GT(left[7].id, 3002u);
  EXPECT_EQ(left[7].chain, (std::vector<DWORD>{3001, 1001}));
  EXPECT_EQ(sim::CountCalls("WSCWriteProviderOrder"), 1u);
  EXPECT_EQ(sim::LoadedCount("sporder"), 0);

  // A repair that fails stops before the product goes: every chain stays
  // whole, the DLL stays, the step fails with its line.
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(StackedCatalog());
  sim::MkFile("C:\\WINDOWS\\ztxlsp.dll");
  sim::FailUpdate(sim::ParseGuid(kOtherLsp));
  std::string out = Output([] { EXPECT_EQ(RemoveProductLsp(1), 0); });
  EXPECT_NE(out.find(Cp932("LSPの削除に失敗しました\n")), std::string::npos);
  EXPECT_EQ(sim::CatalogEntries().size(), StackedCatalog().size());
  EXPECT_TRUE(sim::Exists("C:\\WINDOWS\\ztxlsp.dll"));
  EXPECT_TRUE(sim::DeinstallCalls().empty());
}

TEST(RemoveProductLsp, FailsWhileAChainStillNamesARemovedEntry) {
  // The product's second chain GUID cannot be deinstalled: its chain is left
  // on the removed layered entry, and the step must not report success.
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(ProductCatalog());
  sim::MkFile("C:\\WINDOWS\\ztxlsp.dll");
  sim::FailDeinstall(sim::ParseGuid(kProductChains));
  std::string out = Output([] { EXPECT_EQ(RemoveProductLsp(1), 0); });
  EXPECT_EQ(out.find(Cp932("LSPを削除しました\n")), std::string::npos);
  auto trace = Trace();
  EXPECT_NE(std::find(trace.begin(), trace.end(), "CVLLspSetup::IsCatalogWhole broken chain id:[2002] element:[2001]\r\n"),
            trace.end());

  // A chain another program broke before the run is not ours to judge.
  sim::Reset(sim::Windows::WinXP);
  auto c = ProductCatalog();
  c.push_back(Chain(3003, kOtherLsp, {3009, 1001}, u"Other over nothing"));
  sim::SetCatalog(c);
  EXPECT_EQ(RemoveProductLsp(0), 1);
}

TEST(Companion, RepairsAVendorStackedOverTheProductInBothCatalogs) {
  sim::Reset(sim::Windows::Win7, true, true);
  sim::SetCatalog(StackedCatalog(), sim::Catalog::Native);
  sim::SetCatalog(StackedCatalog(), sim::Catalog::Wow32);
  EXPECT_EQ(Companion({"ztxins64.exe", "-f"}), 0);
  ExpectRepaired(sim::Catalog::Native);
  ExpectRepaired(sim::Catalog::Wow32);
  EXPECT_EQ(sim::CountCalls("WSCUpdateProvider32"), 1u);

  // Without WSCUpdateProvider32 the 32-bit catalog cannot be repaired (there
  // is no 32-bit-only install): nothing changes there and the exit code is 1.
  sim::Reset(sim::Windows::Win7, true, true);
  sim::RemoveExport("ws2_32", "WSCUpdateProvider32");
  sim::SetCatalog(StackedCatalog(), sim::Catalog::Wow32);
  EXPECT_EQ(Companion({"ztxins64.exe", "-f"}), 1);
  EXPECT_EQ(sim::CatalogEntries(sim::Catalog::Wow32).size(), StackedCatalog().size());
}

TEST(WholeRun, SixtyFourBitWindows7WithAVendorStackedOverTheProductInBothCatalogs) {
  struct Row {
    const char* comment;
    bool companion;
    bool repairable;  // WSCUpdateProvider32 there
    bool whole;
  } rows[] = {
      {"the companion repairs both catalogs", true, true, true},
      {"the companion cannot repair the 32-bit catalog", true, false, false},
      {"no companion", false, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::Win7, true);
    sim::SetConsole(false);
    sim::SetCatalog(StackedCatalog(), sim::Catalog::Native);
    sim::SetCatalog(StackedCatalog(), sim::Catalog::Wow32);
    sim::MkFile("C:\\Windows\\ztxlsp.dll");
    sim::MkFile("C:\\Windows\\ztxlsp64.dll");
    sim::SetCurrentDir("C:\\Tools");
    if (row.companion) {
      sim::MkFile("C:\\Tools\\ztxins64.exe");
      sim::RegisterProgram("C:\\Tools\\ztxins64.exe", [&](const std::string&) {
        return sim::RunAs64BitProcess([&] {
          if (!row.repairable) sim::RemoveExport("ws2_32", "WSCUpdateProvider32");
          return static_cast<DWORD>(Companion({"ztxins64.exe", "-f"}));
        });
      });
    }
    RunResult r = RunTool("y\n");
    EXPECT_EQ(r.out.find(Cp932("LSPを削除しました\n")) != std::string::npos, row.whole);
    EXPECT_EQ(r.out.find(Cp932("OS再起動後もう１度実行してください")) != std::string::npos, !row.whole);
    EXPECT_EQ(sim::Exists("C:\\Windows\\ztxlsp64.dll"), !row.whole);
    EXPECT_EQ(sim::Exists("C:\\Windows\\ztxlsp.dll"), !row.whole);
    if (row.whole) {
      ExpectRepaired(sim::Catalog::Native);
      ExpectRepaired(sim::Catalog::Wow32);
    }
  }
}
