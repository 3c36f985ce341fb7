// The LSP step on each route Windows offers the repair, over a stack laid out
// as installers built on the SDK's layered-provider sample lay it: vendor A
// over TCP and UDP, the product over A, vendor C over the product. Each chain
// has a GUID of its own and names in element 1 the chain it went over.
#include <gtest/gtest.h>

#include "files/lsp_removal.h"
#include "lsp/companion_main.h"
#include "lsp_catalog.h"
#include "support.h"

using namespace lsptest;

namespace {

const char* const kA = "{A0A0A0A0-0000-4000-8000-000000000000}";
const char* const kC = "{C0C0C0C0-0000-4000-8000-000000000000}";
const char* const kCOverTcp = "{C1C1C1C1-0000-4000-8000-000000000001}";
const char* const kCOverUdp = "{C1C1C1C1-0000-4000-8000-000000000002}";

sim::ProviderEntry Sdk(DWORD id, const char* guid, std::vector<DWORD> chain, const char16_t* name, int type,
                       const char16_t* dll) {
  const int len = static_cast<int>(chain.size());
  sim::ProviderEntry e = Entry(id, guid, len, std::move(chain), name, dll ? dll : u"");
  if (e.chain_len == 1) e.path = u"%SystemRoot%\\system32\\mswsock.dll";
  e.family = 2;
  e.type = type;
  e.protocol = type == 1 ? 6 : type == 2 ? 17 : 0;
  return e;
}

// In catalog order, as each install's reordering left it.
std::vector<sim::ProviderEntry> SdkStack() {
  const char16_t* a = u"%SystemRoot%\\system32\\vendora.dll";
  const char16_t* z = u"%SystemRoot%\\ztxlsp.dll";
  const char16_t* c = u"%SystemRoot%\\system32\\vendorc.dll";
  return {
      Sdk(4002, kCOverTcp, {4001, 3002, 2002, 1001}, u"C over Z over A over TCP", 1, c),
      Sdk(4003, kCOverUdp, {4001, 3003, 2003, 1002}, u"C over Z over A over UDP", 2, c),
      Sdk(3002, "{5A3E9D10-2B44-4C1F-8E77-0D9A6B21C301}", {3001, 2002, 1001}, u"Z over A over TCP", 1, z),
      Sdk(3003, "{5A3E9D10-2B44-4C1F-8E77-0D9A6B21C302}", {3001, 2003, 1002}, u"Z over A over UDP", 2, z),
      Sdk(2002, "{A1A1A1A1-0000-4000-8000-000000000001}", {2001, 1001}, u"A over TCP", 1, a),
      Sdk(2003, "{A1A1A1A1-0000-4000-8000-000000000002}", {2001, 1002}, u"A over UDP", 2, a),
      Sdk(1001, kMsTcp, {1001}, u"TCP", 1, nullptr),
      Sdk(1002, kMsTcp, {1002}, u"UDP", 2, nullptr),
      Sdk(2001, kA, {}, u"A", 0, a),
      Sdk(3001, kProduct, {}, u"Z", 0, z),
      Sdk(4001, kC, {}, u"C", 0, c),
  };
}

std::string Named(const std::u16string& name) { return std::string(name.begin(), name.end()); }

// The catalog by names: each entry, then the names its chain holds.
std::vector<std::string> ByNames(const std::vector<sim::ProviderEntry>& entries) {
  std::vector<std::string> r;
  for (const auto& e : entries) {
    std::string line = Named(e.name) + ":";
    for (DWORD id : e.chain)
      for (const auto& o : entries)
        if (o.id == id) line += " " + Named(o.name);
    r.push_back(line);
  }
  return r;
}

std::vector<std::string> Calls() {
  std::vector<std::string> r;
  for (const auto& c : sim::CatalogCalls()) r.push_back(c.call == "order" ? "order" : c.call + " " + sim::GuidText(c.guid));
  return r;
}

int Companion() {
  char name[] = "ztxins64.exe", flag[] = "-f";
  char* argv[] = {name, flag};
  return CompanionMain(2, argv);
}

}  // namespace

TEST(LspRoutes, SdkStackWithTheProductInTheMiddleIsLeftWholeOnEveryRoute) {
  struct Row {
    const char* route;
    sim::Windows kind;
    bool wow32;  // the 32-bit catalog of 64-bit Windows, through the companion
    bool update;
  } rows[] = {
      {"98", sim::Windows::Win98, false, false},   {"Me", sim::Windows::WinMe, false, false},
      {"2000", sim::Windows::Win2000, false, false}, {"XP", sim::Windows::WinXP, false, true},
      {"Vista", sim::Windows::Vista, false, true},   {"7", sim::Windows::Win7, false, true},
      {"7 64-bit", sim::Windows::Win7, true, true},
  };
  const std::vector<std::string> product = {"deinstall {5A3E9D10-2B44-4C1F-8E77-0D9A6B21C301}",
                                            "deinstall {5A3E9D10-2B44-4C1F-8E77-0D9A6B21C302}",
                                            "deinstall " + std::string(kProduct), "deinstall " + std::string(kProduct)};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.route);
    const sim::Catalog which = row.wow32 ? sim::Catalog::Wow32 : sim::Catalog::Native;
    sim::Reset(row.kind, row.wow32, row.wow32);
    sim::SetCatalog(SdkStack(), which);
    if (row.wow32) {
      EXPECT_EQ(Companion(), 0);
    } else {
      char windows_dir[MAX_PATH];
      GetWindowsDirectoryA(windows_dir, sizeof windows_dir);
      const std::string dll = std::string(windows_dir) + "\\ztxlsp.dll";
      sim::MkFile(dll);
      std::string out = sim::RunWithConsole("", [] { EXPECT_EQ(RemoveProductLsp(1), 1); });
      EXPECT_NE(out.find(Cp932("LSPを削除しました\n")), std::string::npos);
      EXPECT_FALSE(sim::Exists(dll));
    }

    // C now rests on A, in its old place; A and the base providers are as they were.
    std::vector<sim::ProviderEntry> left = sim::CatalogEntries(which);
    EXPECT_EQ(ByNames(left), (std::vector<std::string>{
                                 "C over Z over A over TCP: C A over TCP TCP", "C over Z over A over UDP: C A over UDP UDP",
                                 "A over TCP: A TCP", "A over UDP: A UDP", "TCP: TCP", "UDP: UDP", "A:", "C:"}));
    ASSERT_EQ(left.size(), 8u);
    for (const auto& e : left) {
      for (const auto& before : SdkStack()) {
        if (before.name != e.name) continue;
        EXPECT_EQ(e.path, before.path);
        EXPECT_EQ(e.type, before.type);
        EXPECT_TRUE(e.id == before.id || e.guid.Data1 == 0xC1C1C1C1) << Named(e.name);
      }
    }
    // Where WSCUpdateProvider is there C's chains keep their ids; elsewhere
    // they come back under new ones and the order is written back.
    std::vector<std::string> calls = Calls();
    std::vector<std::string> want;
    if (row.update) {
      EXPECT_EQ(left[0].id, 4002u);
      EXPECT_EQ(left[1].id, 4003u);
      want = {"update " + std::string(kCOverTcp), "update " + std::string(kCOverUdp)};
      want.insert(want.end(), product.begin(), product.end());
    } else {
      EXPECT_GT(left[0].id, 4003u);
      EXPECT_GT(left[1].id, 4003u);
      want = {"deinstall " + std::string(kCOverTcp), "deinstall " + std::string(kCOverUdp),
              "install " + std::string(kCOverTcp), "install " + std::string(kCOverUdp)};
      want.insert(want.end(), product.begin(), product.end());
      want.push_back("order");
      EXPECT_EQ(sim::LoadedCount("sporder"), 0);
    }
    EXPECT_EQ(calls, want);
    EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
    EXPECT_EQ(sim::WinsockStartedCount(), 0);
  }
}

// Vendor V's two chains share one GUID and sit over the product; the second
// one's DLL path as given.
std::vector<sim::ProviderEntry> VendorVOverTheProduct(const char16_t* second_path) {
  const char* const kV = "{B0B0B0B0-0000-4000-8000-000000000000}";
  const char* const kVChains = "{B1B1B1B1-0000-4000-8000-000000000000}";
  const char16_t* v = u"%SystemRoot%\\system32\\vendorv.dll";
  const char16_t* z = u"%SystemRoot%\\ztxlsp.dll";
  return std::vector<sim::ProviderEntry>{
      Sdk(4002, kVChains, {4001, 3002, 1001}, u"V over Z over TCP", 1, v),
      Sdk(4003, kVChains, {4001, 3003, 1002}, u"V over Z over UDP", 2, second_path),
      Sdk(3002, "{5A3E9D10-2B44-4C1F-8E77-0D9A6B21C301}", {3001, 1001}, u"Z over TCP", 1, z),
      Sdk(3003, "{5A3E9D10-2B44-4C1F-8E77-0D9A6B21C302}", {3001, 1002}, u"Z over UDP", 2, z),
      Sdk(1001, kMsTcp, {1001}, u"TCP", 1, nullptr),
      Sdk(1002, kMsTcp, {1002}, u"UDP", 2, nullptr),
      Sdk(3001, kProduct, {}, u"Z", 0, z),
      Sdk(4001, kV, {}, u"V", 0, v),
  };
}

TEST(LspRoutes, AGuidWhoseEntriesHoldTwoPathsIsNeverWrittenWithOne) {
  // A hand edit of the registry left one of vendor V's chains with another
  // DLL. Both writers would set one path for both: the repair is refused
  // and nothing changes.
  auto catalog = VendorVOverTheProduct;
  struct Row {
    const char* comment;
    sim::Windows kind;
    const char16_t* second_path;
    bool registry_readable;
    const char* refusal;  // null: repaired
  } rows[] = {
      {"one path, XP", sim::Windows::WinXP, u"%SystemRoot%\\system32\\vendorv.dll", true, nullptr},
      {"one path, 2000", sim::Windows::Win2000, u"%SystemRoot%\\system32\\vendorv.dll", true, nullptr},
      {"two paths, XP", sim::Windows::WinXP, u"C:\\elsewhere\\vendorv.dll", true, "differ"},
      {"two paths, 2000", sim::Windows::Win2000, u"C:\\elsewhere\\vendorv.dll", true, "differ"},
      {"paths that differ in case only", sim::Windows::WinXP, u"%SYSTEMROOT%\\system32\\vendorv.dll", true, "differ"},
      {"registry copy unreadable", sim::Windows::WinXP, u"%SystemRoot%\\system32\\vendorv.dll", false, "unread"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(row.kind);
    sim::SetCatalog(catalog(row.second_path));
    if (!row.registry_readable) sim::FailAlways("RegOpenKeyExA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RemoveProductLsp(0), row.refusal == nullptr ? 1 : 0);
    std::vector<sim::ProviderEntry> left = sim::CatalogEntries();
    if (row.refusal == nullptr) {
      EXPECT_EQ(ByNames(left)[0], "V over Z over TCP: V TCP");
      EXPECT_EQ(left[1].path, std::u16string(row.second_path));
      continue;
    }
    EXPECT_TRUE(sim::CatalogCalls().empty());
    EXPECT_EQ(ByNames(left), ByNames(catalog(row.second_path)));
    const std::string refused = std::string("CVLLspSetup::RemoveAllLayered repair refused paths ") + row.refusal +
                                " guid:[b1b1b1b1] count:[2]\r\n";
    std::vector<std::string> trace = sim::DebugLines();
    EXPECT_NE(std::find(trace.begin(), trace.end(), refused), trace.end());
  }
}

// The paths are read from the registry copy where Winsock reads the catalog:
// the key that Parameters' value Current_Protocol_Catalog names, or
// Protocol_Catalog9 where the value is missing; on 9x as on NT.
TEST(LspRoutes, TheRegistryCopyIsReadWhereCurrentProtocolCatalogSays) {
  const char16_t* kOnePath = u"%SystemRoot%\\system32\\vendorv.dll";
  struct Row {
    sim::Windows kind;
    const char* key;  // where the copy lies
    bool named;       // Current_Protocol_Catalog names it
    bool repaired;
  } rows[] = {
      {sim::Windows::WinXP, "Protocol_Catalog9", true, true},
      {sim::Windows::WinXP, "Protocol_Catalog10", true, true},
      {sim::Windows::Win98, "Protocol_Catalog10", true, true},
      {sim::Windows::WinXP, "Protocol_Catalog9", false, true},
      {sim::Windows::WinMe, "Protocol_Catalog9", false, true},
      // a copy that nothing names is not looked for
      {sim::Windows::WinXP, "Protocol_Catalog10", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.key) + (row.named ? " named" : " not named"));
    sim::Reset(row.kind);
    sim::SetProtocolCatalogKey(row.key, row.named);
    sim::SetCatalog(VendorVOverTheProduct(kOnePath));
    EXPECT_EQ(RemoveProductLsp(0), row.repaired ? 1 : 0);
    std::vector<std::string> trace = sim::DebugLines();
    const std::string refused =
        "CVLLspSetup::RemoveAllLayered repair refused paths unread guid:[b1b1b1b1] count:[2]\r\n";
    EXPECT_EQ(std::find(trace.begin(), trace.end(), refused) != trace.end(), !row.repaired);
  }
}
