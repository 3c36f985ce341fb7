// The catalog snapshot, its queries, Winsock start-up and the trace formatter.
#include <gtest/gtest.h>

#include "lsp_catalog.h"

using namespace lsptest;

namespace {

class Snapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset(sim::Windows::WinXP);
    sim::SetCatalog({Base(1001), Layered(2001, kProduct), Chain(2002, kProduct, {2001, 1001}),
                     Base(1002, u"MSAFD Tcpip [UDP/IP]")});
  }
};

TEST_F(Snapshot, SizingCallThenFillingCallGiveTheCatalogInOrder) {
  CVLLspSetup s(kDirectCatalog);
  ASSERT_EQ(s.EnumerateProviders(), 1);
  ASSERT_EQ(s.ProviderCount, 4);
  EXPECT_EQ(s.Providers[1].dwCatalogEntryId, 2001u);
  EXPECT_EQ(s.Providers[2].ProtocolChain.ChainEntries[1], 1001u);
  EXPECT_EQ(sim::CountCalls("WSCEnumProtocols"), 2u);
  // The sizing call passes no buffer and a zero length.
  EXPECT_EQ(sim::Calls()[0].args, "(nil),(nil),0");
  EXPECT_EQ(sim::LiveHeapBlocks(), 1u);
  EXPECT_TRUE(sim::DebugLines().empty());
}

TEST_F(Snapshot, ReplacingASnapshotKeepsExactlyOneBlock) {
  CVLLspSetup s(kDirectCatalog);
  ASSERT_EQ(s.EnumerateProviders(), 1);
  sim::SetCatalog({Base(1001)});
  ASSERT_EQ(s.EnumerateProviders(), 1);
  EXPECT_EQ(s.ProviderCount, 1);
  EXPECT_EQ(sim::LiveHeapBlocks(), 1u);
  EXPECT_EQ(sim::CountCalls("HeapFree"), 1u);
}

TEST_F(Snapshot, FailuresLeaveTheObjectEmptyWithOneTraceLine) {
  struct Case {
    const char* call;
    int nth;
    DWORD error;
    const char* line;
  } cases[] = {
      {"WSCEnumProtocols", 1, WSAEFAULT, "CVLLspSetup::EnumerateProviders WSCEnumProtocols error:[10014]\r\n"},
      {"WSCEnumProtocols", 2, WSAENOBUFS,
       "CVLLspSetup::EnumerateProviders WSCEnumProtocols ret:[ffffffff] error:[10055]\r\n"},
      {"HeapAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, "CVLLspSetup::CreateProcessInfo heap alloc error:[8]\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call + std::to_string(c.nth));
    SetUp();
    CVLLspSetup s(kDirectCatalog);
    ASSERT_EQ(s.EnumerateProviders(), 1);  // a snapshot to lose
    sim::ClearCalls();
    sim::ClearDebug();
    sim::FailCall(c.call, c.nth, c.error);
    EXPECT_EQ(s.EnumerateProviders(), 0);
    EXPECT_EQ(s.Providers, nullptr);
    EXPECT_EQ(s.ProviderCount, 0);
    EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
    EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{c.line});
  }
}

TEST_F(Snapshot, NoProcessHeapKeepsTheBlockAndNeverLosesIt) {
  CVLLspSetup s(kDirectCatalog);
  ASSERT_EQ(s.EnumerateProviders(), 1);
  sim::ClearDebug();
  sim::ClearCalls();
  sim::FailCall("GetProcessHeap", 1, ERROR_INVALID_HANDLE);
  s.ReleaseProviders();
  EXPECT_NE(s.Providers, nullptr);
  EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{"CVLLspSetup::ReleaseProviders GetProcessHeap error:[6]\r\n"});
  // The held block cannot be released: the new buffer must not replace it.
  sim::ClearCalls();
  sim::ClearFaults();
  sim::FailCall("GetProcessHeap", 2);
  EXPECT_EQ(s.CreateProcessInfo(64), 0);
  EXPECT_EQ(sim::LiveHeapBlocks(), 1u);
  EXPECT_EQ(sim::CountCalls("HeapAlloc"), 0u);
}

TEST_F(Snapshot, CountsAndQueriesOverTheSnapshot) {
  CVLLspSetup s(kDirectCatalog);
  EXPECT_EQ(s.GetProviderCount(0), 0u);  // no snapshot yet
  ASSERT_EQ(s.EnumerateProviders(), 1);
  EXPECT_EQ(s.GetProviderCount(0), 1u);
  EXPECT_EQ(s.GetProviderCount(1), 2u);
  EXPECT_EQ(s.GetProviderCount(2), 1u);
  EXPECT_EQ(sim::DebugLines(), (std::vector<std::string>{
                                   "CVLLspSetup::GetProviderCount complate type:[0] count:[0]\r\n",
                                   "CVLLspSetup::GetProviderCount complate type:[0] count:[1]\r\n",
                                   "CVLLspSetup::GetProviderCount complate type:[1] count:[2]\r\n",
                                   "CVLLspSetup::GetProviderCount complate type:[2] count:[1]\r\n"}));
  GUID product = sim::ParseGuid(kProduct);
  GUID absent = sim::ParseGuid(kOtherLsp);
  // The layered entry comes before the chain that shares its GUID.
  EXPECT_EQ(s.GetCatalogIdByGuid(&product), 2001u);
  EXPECT_EQ(s.GetCatalogIdByGuid(&absent), 0u);
  s.ReleaseProviders();
  EXPECT_EQ(s.GetCatalogIdByGuid(&product), 0u);
  EXPECT_EQ(s.GetProviderCount(1), 0u);
}

TEST_F(Snapshot, IsFirstIdComparesOwnIdForLayeredAndTopOfChainOtherwise) {
  CVLLspSetup s(kDirectCatalog);
  WSAPROTOCOL_INFOW layered = sim::ToProtocolInfo(Layered(2001, kProduct));
  layered.ProtocolChain.ChainEntries[0] = 77;
  WSAPROTOCOL_INFOW chain = sim::ToProtocolInfo(Chain(2002, kProduct, {2001, 1001}));
  EXPECT_EQ(s.IsFirstId(&layered, 2001), 1);
  EXPECT_EQ(s.IsFirstId(&layered, 77), 0);
  EXPECT_EQ(s.IsFirstId(&chain, 2001), 1);
  EXPECT_EQ(s.IsFirstId(&chain, 2002), 0);  // never its own id
  EXPECT_EQ(sim::DebugLines(), (std::vector<std::string>{"CVLLspSetup::IsFirstId cat:[2001] chain:[77] id:[2001]\r\n",
                                                         "CVLLspSetup::IsFirstId cat:[2002] chain:[2001] id:[2001]\r\n"}));
}

TEST_F(Snapshot, LayeredEntriesByGuidCopiesMatchesOrLeavesCountAlone) {
  CVLLspSetup s(kDirectCatalog);
  WSAPROTOCOL_INFOW records[] = {sim::ToProtocolInfo(Layered(2001, kProduct)),
                                 sim::ToProtocolInfo(Chain(2002, kProductChains, {2001, 1001})),
                                 sim::ToProtocolInfo(Chain(2003, kProduct, {2001, 1002}))};
  GUID product = sim::ParseGuid(kProduct);
  int n = -5;
  WSAPROTOCOL_INFOW* got = s.CreateLayeredEntriesByGuid(records, 3, &product, &n);
  ASSERT_NE(got, nullptr);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(got[0].dwCatalogEntryId, 2001u);
  EXPECT_EQ(got[1].dwCatalogEntryId, 2003u);
  s.ReleaseLayeredEntries(got);

  GUID absent = sim::ParseGuid(kOtherLsp);
  n = -5;
  got = s.CreateLayeredEntriesByGuid(records, 3, &absent, &n);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(n, -5);
  s.ReleaseLayeredEntries(got);
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
  auto lines = sim::DebugLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "CVLLspSetup::CreateLayeredEntriesByGuid entry:[3] guid:[1b2c3d4e]\r\n");
  EXPECT_EQ(lines[4], "CVLLspSetup::CreateLayeredEntriesByGuid entry:[3] guid:[1b2c3d4e] count:[0]\r\n");
  EXPECT_EQ(lines[5].rfind("CVLLspSetup::CreateLayeredEntriesByGuid complete:[", 0), 0u);

  sim::ClearDebug();
  sim::ClearCalls();
  sim::FailCall("HeapAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
  n = -5;
  EXPECT_EQ(s.CreateLayeredEntriesByGuid(records, 3, &product, &n), nullptr);
  EXPECT_EQ(n, -5);
  EXPECT_EQ(sim::DebugLines().back(), "CVLLspSetup::CreateLayeredEntriesByGuid heap alloc error:[8]\r\n");
}

std::vector<std::string> WinsockCalls() {
  std::vector<std::string> seq;
  for (const auto& c : sim::Calls())
    if (c.name.compare(0, 3, "WSA") == 0) seq.push_back(c.name + " " + c.args);
  return seq;
}

TEST(WinsockSession, TriesVersionsDownwardsCleaningUpAfterEachRefusalAndOnceAtTheEnd) {
  sim::Reset(sim::Windows::WinXP);
  sim::AcceptWinsockVersions({0x0101});
  {
    WinsockSession winsock;
    EXPECT_EQ(WinsockCalls(), (std::vector<std::string>{"WSAStartup 0x0202", "WSACleanup ", "WSAStartup 0x0102",
                                                        "WSACleanup ", "WSAStartup 0x0002", "WSACleanup ",
                                                        "WSAStartup 0x0101"}));
    EXPECT_EQ(sim::WinsockStartedCount(), 1);
  }
  EXPECT_EQ(sim::WinsockStartedCount(), 0);
  EXPECT_EQ(sim::CountCalls("WSACleanup"), 4u);

  sim::Reset(sim::Windows::WinXP);
  sim::AcceptWinsockVersions({});
  { WinsockSession winsock; }
  EXPECT_EQ(sim::CountCalls("WSAStartup"), 5u);
  EXPECT_EQ(sim::CountCalls("WSACleanup"), 6u);
  EXPECT_TRUE(sim::DebugLines().empty());
}

std::string Format(const char* fmt, ...) {
  char buf[64];
  va_list ap;
  va_start(ap, fmt);
  FormatTraceV(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

TEST(TraceFormat, ConversionsOfTheTrace) {
  const WCHAR name[] = {u'T', u'C', u'P', 0x3042, u'!', 0};
  EXPECT_EQ(Format("[%d][%u][%x]", -2147483647 - 1, 4294967295u, 0xC4F0A2B7u),
            "[-2147483648][4294967295][c4f0a2b7]");
  EXPECT_EQ(Format("%04x-%02x-%02x", 0x58d1u, 0x9bu, 0x2u), "58d1-9b-02");
  EXPECT_EQ(Format("[%.256ws] [%.2ws]", name, name), "[TCP?!] [TC]");
  EXPECT_EQ(Format("100%%"), "100%");
  // Cut at the buffer, still terminated.
  EXPECT_EQ(Format("%x%x%x%x%x%x%x%x%x", 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu,
                   0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu),
            std::string(63, 'f'));
}

TEST(TraceFormat, LongestLinesFitAndOverlongOnesAreCutWithTheirLineEnd) {
  sim::Reset(sim::Windows::WinXP);
  std::vector<WCHAR> full(256, u'N');  // szProtocol filled, no terminator within the precision
  full.push_back(u'X');
  DebugTrace("CVLLspSetup::RemoveAllLayered associated id:[%d] name:[%.256ws]", -1, full.data());
  std::vector<WCHAR> huge(6000, u'w');
  huge.push_back(0);
  DebugTrace("%ws", huge.data());
  auto lines = sim::DebugLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "CVLLspSetup::RemoveAllLayered associated id:[-1] name:[" + std::string(256, 'N') + "]\r\n");
  EXPECT_EQ(lines[1].size(), 4095u);
  EXPECT_EQ(lines[1].substr(4091), "ww\r\n");
}

}  // namespace
