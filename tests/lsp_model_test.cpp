// The layered-chain model over realistic catalogs, its ordering, and its
// failure paths.
#include <gtest/gtest.h>

#include "lsp_catalog.h"

#include <algorithm>

using namespace lsptest;

namespace {

std::string G(unsigned data1) {
  char buf[64];
  snprintf(buf, sizeof buf, "{%08X-0000-4000-8000-000000000000}", data1);
  return buf;
}

class Model : public ::testing::Test {
 protected:
  void Load(const std::vector<sim::ProviderEntry>& entries) {
    setup_.ReleaseProviders();  // before Reset drops the simulated heap
    sim::Reset(sim::Windows::WinXP);
    sim::SetCatalog(entries);
    ASSERT_EQ(setup_.EnumerateProviders(), 1);
    sim::ClearCalls();
    sim::ClearDebug();
  }
  void Build() { r_.entries = setup_.CreateLspEntry(&r_.count); }
  std::vector<std::string> Lines(const std::string& containing) {
    std::vector<std::string> out;
    for (const auto& l : sim::DebugLines())
      if (l.find(containing) != std::string::npos) out.push_back(l);
    return out;
  }
  CVLLspSetup setup_{lsptest::kDirectCatalog};
  Records r_;
};

std::vector<sim::ProviderEntry> With(std::vector<sim::ProviderEntry> base, std::vector<sim::ProviderEntry> more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

TEST_F(Model, OneLspOverTcpUdpAndIpv6) {
  Load(With(sim::BaseProviders(), {Layered(2001, kProduct), Chain(2002, kProduct, {2001, 1001}),
                                   Chain(2003, kProduct, {2001, 1002}), Chain(2004, kProduct, {2001, 1004})}));
  Build();
  ASSERT_NE(r_.entries, nullptr);
  ASSERT_EQ(r_.count, 1);
  const LspEntry& e = r_.entries[0];
  EXPECT_EQ(e.LayeredProvider.dwCatalogEntryId, 2001u);
  EXPECT_EQ(std::u16string(e.ProviderPath), u"%SystemRoot%\\ztxlsp.dll");
  EXPECT_EQ(e.LayeredEntryCount, 4);
  EXPECT_EQ(e.LayeredGuidCount, 1);
  EXPECT_EQ(e.MaxChainLen, 2);
  EXPECT_EQ(e.Order, 1);
  EXPECT_EQ(Lines("layer exists").size(), 3u);
  // Each layered entry's IsFirstId lines come twice: counting and collecting.
  EXPECT_EQ(Lines("IsFirstId").size(), 8u);
  EXPECT_EQ(Lines("dispatch"),
            std::vector<std::string>{"CVLLspSetup::CreateLspEntry dispatch index:[0] name:[ZTX Layered] dum:[c4f0a2b7] "
                                     "count:[4]\r\n"});
  EXPECT_EQ(Lines("add base list count"), std::vector<std::string>{"CVLLspSetup::CreateLspEntry add base list count:[6]\r\n"});
  EXPECT_EQ(Lines("set index").size(), 3u);
  setup_.ReleaseProviders();
  ReleaseLspEntries(r_.entries, r_.count);
  r_.entries = nullptr;
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
}

TEST_F(Model, StackedLspsOrderByDistanceToTheBase) {
  auto catalog = With(sim::BaseProviders(), {Layered(3001, kOtherLsp, u"Other"), Chain(3002, kOtherLsp, {3001, 1001}),
                                             Layered(2001, kProduct), Chain(2002, kProduct, {2001, 3001, 1001})});
  Load(catalog);
  Build();
  ASSERT_EQ(r_.count, 2);
  EXPECT_EQ(r_.entries[0].LayeredProvider.dwCatalogEntryId, 3001u);
  EXPECT_EQ(r_.entries[1].Order, 2);
  EXPECT_EQ(r_.entries[1].MaxChainLen, 3);
  EXPECT_TRUE(Lines("change from").empty());

  // A second chain straight onto a base provider brings it to order 1.
  ReleaseLspEntries(r_.entries, r_.count);
  r_.entries = nullptr;
  Load(With(catalog, {Chain(2003, kProduct, {2001, 1002})}));
  Build();
  ASSERT_EQ(r_.count, 2);
  EXPECT_EQ(r_.entries[1].LayeredProvider.dwCatalogEntryId, 2001u);
  EXPECT_EQ(r_.entries[1].Order, 1);
  // Same order: the longer chain (3) goes after the other LSP's 2; no swap needed.
  EXPECT_TRUE(Lines("start-end").empty());
}

TEST_F(Model, UnusedLspAndChainsUnderASecondGuid) {
  Load(With(sim::BaseProviders(), {Layered(4001, kOtherLsp, u"Idle"), Layered(2001, kProduct),
                                   Chain(2002, kProductChains, {2001, 1001}), Chain(2003, kProduct, {2001, 1002}),
                                   Chain(2004, kProductChains, {2001, 1004})}));
  Build();
  ASSERT_EQ(r_.count, 2);
  const LspEntry& product = r_.entries[0];
  const LspEntry& idle = r_.entries[1];
  EXPECT_EQ(idle.LayeredEntryCount, 1);
  EXPECT_EQ(idle.LayeredGuidCount, 1);
  EXPECT_EQ(idle.MaxChainLen, 0);
  EXPECT_EQ(idle.Order, 7);
  ASSERT_EQ(product.LayeredGuidCount, 2);
  EXPECT_EQ(sim::GuidText(product.LayeredGuids[0]), kProduct);
  EXPECT_EQ(sim::GuidText(product.LayeredGuids[1]), kProductChains);
  EXPECT_EQ(Lines("layer"), (std::vector<std::string>{
                                "CVLLspSetup::CreateLspEntry add first layer count:[0] guid:[1b2c3d4e] guidcount:[1]\r\n",
                                "CVLLspSetup::CreateLspEntry add first layer count:[0] guid:[c4f0a2b7] guidcount:[1]\r\n",
                                "CVLLspSetup::CreateLspEntry add layer count:[1] guid:[5a3e9d10] guidcount:[2]\r\n",
                                "CVLLspSetup::CreateLspEntry layer exists guid:[c4f0a2b7]\r\n",
                                "CVLLspSetup::CreateLspEntry layer exists guid:[5a3e9d10]\r\n"}));
  EXPECT_EQ(Lines("change from"), std::vector<std::string>{
                                      "CVLLspSetup::CreateLspEntry change from:[0][c4f0a2b7] to:[1][1b2c3d4e]\r\n"});
}

TEST_F(Model, EmptyAndBaselessCatalogs) {
  Load(sim::BaseProviders());
  Build();
  ASSERT_NE(r_.entries, nullptr);
  EXPECT_EQ(r_.count, 0);
  ReleaseLspEntries(r_.entries, r_.count);
  r_.entries = nullptr;

  Load({Layered(2001, kProduct), Chain(2002, kProduct, {2001, 1001})});
  r_.count = -3;
  Build();
  EXPECT_EQ(r_.entries, nullptr);
  EXPECT_EQ(r_.count, -3);
  EXPECT_EQ(sim::DebugLines().back(), "CVLLspSetup::GetProviderCount complate type:[1] count:[0]\r\n");
  EXPECT_EQ(sim::LiveHeapBlocks(), 1u);  // the snapshot only
}

TEST_F(Model, ProviderPathFailureReturnsNothing) {
  auto catalog = With(sim::BaseProviders(), {Layered(3001, kOtherLsp, u"Other"), Layered(2001, kProduct)});
  setup_.ReleaseProviders();
  sim::Reset(sim::Windows::WinXP);
  sim::SetCatalog(catalog);
  sim::FailProviderPath(sim::ParseGuid(kProduct));
  ASSERT_EQ(setup_.EnumerateProviders(), 1);
  sim::ClearDebug();
  Build();
  EXPECT_EQ(r_.entries, nullptr);
  EXPECT_EQ(sim::DebugLines().back(), "CVLLspSetup::CreateLspEntry WSCGetProviderPath ret:[ffffffff] error:[10022]\r\n");
  EXPECT_EQ(sim::LiveHeapBlocks(), 1u);
}

TEST_F(Model, HeapFailureAtEachAllocationFreesEverything) {
  auto catalog = With(sim::BaseProviders(), {Layered(2001, kProduct), Chain(2002, kProductChains, {2001, 1001}),
                                             Chain(2003, kProduct, {2001, 1002}), Layered(3001, kOtherLsp)});
  const std::vector<std::string> kinds = {"heap alloc error", "heap alloc layered entries error",
                                          "heap alloc layered guids error", "heap alloc temp guid error"};
  std::vector<std::string> seen;
  for (int k = 1;; ++k) {
    SCOPED_TRACE(k);
    Load(catalog);
    sim::FailCall("HeapAlloc", k, ERROR_NOT_ENOUGH_MEMORY);
    LspEntry* got = setup_.CreateLspEntry(nullptr);
    if (sim::FaultsFired() == 0) {
      ASSERT_NE(got, nullptr);
      ReleaseLspEntries(got, 2);
      break;
    }
    ASSERT_EQ(got, nullptr);
    EXPECT_EQ(sim::LiveHeapBlocks(), 1u);
    std::string last = sim::DebugLines().back();
    EXPECT_NE(last.find("error:[8]\r\n"), std::string::npos) << last;
    for (const auto& kind : kinds)
      if (last.find(kind) != std::string::npos) seen.push_back(kind);
  }
  std::sort(seen.begin(), seen.end());
  seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
  EXPECT_EQ(seen.size(), kinds.size());
}

TEST_F(Model, FirstPassSwapsExactlyAsTheExchangeSortDoes) {
  Load(With(sim::BaseProviders(),
            {Layered(2001, G(0xa).c_str()), Layered(2101, G(0xb).c_str()), Chain(2102, G(0xb).c_str(), {2101, 1001}),
             Layered(2201, G(0xc).c_str()), Chain(2202, G(0xc).c_str(), {2201, 2101, 1001}),
             Layered(2301, G(0xd).c_str()), Chain(2302, G(0xd).c_str(), {2301, 1001})}));
  Build();
  ASSERT_EQ(r_.count, 4);
  std::vector<unsigned> order;
  for (int i = 0; i < 4; ++i) order.push_back(r_.entries[i].LayeredProvider.ProviderId.Data1);
  EXPECT_EQ(order, (std::vector<unsigned>{0xb, 0xd, 0xc, 0xa}));
  EXPECT_EQ(Lines("change from"), (std::vector<std::string>{
                                      "CVLLspSetup::CreateLspEntry change from:[0][b] to:[1][a]\r\n",
                                      "CVLLspSetup::CreateLspEntry change from:[1][c] to:[2][a]\r\n",
                                      "CVLLspSetup::CreateLspEntry change from:[1][d] to:[3][c]\r\n",
                                      "CVLLspSetup::CreateLspEntry change from:[2][c] to:[3][a]\r\n"}));
  EXPECT_TRUE(Lines("start-end").empty());
  // Records are swapped whole: each keeps its own arrays.
  EXPECT_EQ(r_.entries[0].LayeredEntries[1].dwCatalogEntryId, 2102u);
  EXPECT_EQ(r_.entries[3].LayeredEntryCount, 1);
}

TEST_F(Model, SecondPassSortsTheLastGroupByChainLength) {
  Load(With(sim::BaseProviders(),
            {Layered(2001, G(0x1).c_str()), Chain(2002, G(0x1).c_str(), {2001, 1001}),
             Layered(2101, G(0x2).c_str()), Chain(2102, G(0x2).c_str(), {2101, 2001, 1001, 0}),
             Layered(2201, G(0x3).c_str()), Chain(2202, G(0x3).c_str(), {2201, 2001, 1001})}));
  Build();
  ASSERT_EQ(r_.count, 3);
  EXPECT_EQ(r_.entries[1].LayeredProvider.ProviderId.Data1, 3u);
  EXPECT_EQ(r_.entries[2].LayeredProvider.ProviderId.Data1, 2u);
  EXPECT_EQ(Lines("start-end"),
            std::vector<std::string>{"CVLLspSetup::CreateLspEntry start-end from:[1][3] to:[2][2]\r\n"});
}

}  // namespace
