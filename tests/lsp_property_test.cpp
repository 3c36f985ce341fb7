// Seeded random catalogs against a reference written from what the removal
// must do, not from how it does it: the records it builds, the calls that
// change the catalog, and the catalog it leaves. Then the same catalogs with
// one call made to fail: a run that reports success has left a whole catalog
// and lost nothing of another provider.
#include <gtest/gtest.h>

#include "lsp_catalog.h"

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace lsptest;

namespace {

const GUID kP = sim::ParseGuid(kProduct);

std::string G(unsigned data1, unsigned tail = 0) {
  char buf[64];
  snprintf(buf, sizeof buf, "{%08X-1111-4000-8000-%012X}", data1, tail);
  return buf;
}

bool Same(const GUID& a, const GUID& b) { return sim::SameGuid(a, b); }

// ---------------------------------------------------------------- generator


std::vector<sim::ProviderEntry> RandomCatalog(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::vector<sim::ProviderEntry> c;
  std::map<std::string, std::u16string> paths;
  std::vector<DWORD> bases, layered;
  DWORD next = 1000;
  auto add = [&](const std::string& guid, int len, std::vector<DWORD> chain, const std::u16string& dll) {
    sim::ProviderEntry e;
    e.id = ++next;
    e.guid = sim::ParseGuid(guid);
    e.chain_len = len;
    e.chain = std::move(chain);
    // The DLL path belongs to the GUID, as WSCGetProviderPath reports it.
    if (!paths.count(guid)) paths[guid] = dll;
    e.path = paths[guid];
    std::string name = "e" + std::to_string(e.id);
    e.name = std::u16string(name.begin(), name.end());
    e.family = 2 + pick(2) * 21;
    e.type = 1 + pick(3);
    e.protocol = pick(18);
    c.push_back(e);
    return e.id;
  };
  int nb = pick(10) == 0 ? 0 : 1 + pick(4);
  for (int i = 0; i < nb; ++i) {
    DWORD id = next + 1;
    // Some base providers carry 0 where their own id would be.
    bases.push_back(add(i % 2 ? kMsTcp : G(0xba5e), 1, {pick(4) == 0 ? 0u : id}, u"C:\\mswsock.dll"));
  }
  int np = pick(6);
  std::vector<std::string> own, chains;
  for (int i = 0; i < np; ++i) {
    bool product = pick(3) == 0;
    // Vendors whose GUID shares its first field with the product's.
    std::string guid = product ? kProduct : pick(4) == 0 ? G(0xC4F0A2B7, 0x100 + i) : G(0x100 + i);
    std::u16string dll = product ? u"%SystemRoot%\\ztxlsp.dll" : u"C:\\vendor" + std::u16string(1, u'0' + i) + u".dll";
    int kind = pick(6);
    std::string chain_guid = kind == 0 ? guid : kind == 1 ? G(0x5a5e) : product ? G(0x200 + i, 0x2a) : G(0x200 + i);
    own.push_back(guid);
    chains.push_back(chain_guid);
    layered.push_back(add(guid, 0, {}, dll));
  }
  for (int i = 0; i < np; ++i) {
    std::u16string dll = c[bases.size() + i].path;
    for (int k = pick(4); k > 0; --k) {
      std::vector<DWORD> chain = {layered[i]};
      for (int m = pick(4) == 0 ? pick(6) : pick(3); m > 0; --m) chain.push_back(layered[pick(np)]);
      if (!bases.empty() && pick(6) != 0) chain.push_back(bases[pick(static_cast<int>(bases.size()))]);
      else chain.push_back(9000 + pick(50));  // another program's broken chain
      chain.resize(std::min<size_t>(chain.size(), MAX_PROTOCOL_CHAIN));
      add(chains[i], static_cast<int>(chain.size()), chain, dll);
    }
  }
  std::shuffle(c.begin(), c.end(), rng);
  return c;
}

// ---------------------------------------------------------------- reference

struct RefRecord {
  DWORD layered = 0;
  GUID guid{};
  std::vector<DWORD> entries;
  std::vector<std::string> guids;
  int max_len = 0;
  int order = 7;
};

DWORD FirstOf(const sim::ProviderEntry& e) {
  return e.chain_len == 0 ? e.id : (e.chain.empty() ? 0 : e.chain[0]);
}

DWORD ChainAt(const sim::ProviderEntry& e, int p) {
  return e.chain_len > 0 && p < static_cast<int>(e.chain.size()) ? e.chain[p] : 0;
}

// One record per layered entry: the entries whose chain begins with it, the
// longest chain, the GUIDs in order of first occurrence and the nearest chain
// position of a base provider; exchanged into order, then by chain length.
std::vector<RefRecord> RefRecords(const std::vector<sim::ProviderEntry>& c) {
  std::vector<RefRecord> r;
  std::set<DWORD> base_ids;
  for (const auto& e : c)
    if (e.chain_len == 1) base_ids.insert(e.id);
  for (const auto& l : c) {
    if (l.chain_len != 0) continue;
    RefRecord rec;
    rec.layered = l.id;
    rec.guid = l.guid;
    for (const auto& e : c) {
      if (FirstOf(e) != l.id) continue;
      rec.entries.push_back(e.id);
      rec.max_len = std::max(rec.max_len, e.chain_len);
      std::string g = sim::GuidText(e.guid);
      if (std::find(rec.guids.begin(), rec.guids.end(), g) == rec.guids.end()) rec.guids.push_back(g);
      for (int p = 1; p <= 6; ++p)
        if (base_ids.count(ChainAt(e, p)) && p < rec.order) rec.order = p;
    }
    r.push_back(rec);
  }
  for (size_t i = 0; i < r.size(); ++i)
    for (size_t j = i; j < r.size(); ++j)
      if (r[i].order > r[j].order) std::swap(r[i], r[j]);
  for (int p = 1; p <= 6; ++p) {
    size_t s = 0;
    while (s < r.size() && r[s].order != p) ++s;
    size_t e = s;
    while (e + 1 < r.size() && r[e + 1].order == p) ++e;
    for (size_t i = s; i < r.size() && i <= e; ++i)
      for (size_t j = i; j <= e; ++j)
        if (r[i].max_len > r[j].max_len) std::swap(r[i], r[j]);
  }
  return r;
}

struct Expected {
  std::vector<std::string> calls;            // "deinstall G", "update G", "install G", "order"
  std::vector<sim::ProviderEntry> after;     // id 0: comes back under a new id
  std::set<DWORD> removed;                   // ids no chain may name afterwards
  std::set<std::string> dropped;             // names of chains left with nothing layered
  bool whole = true;
};

// What the removal must do on Windows with (update) or without WSCUpdateProvider.
Expected Reference(const std::vector<sim::ProviderEntry>& c, bool update) {
  Expected x;
  x.after = c;
  bool any_base = false;
  for (const auto& e : c) any_base = any_base || e.chain_len == 1;
  std::vector<RefRecord> records = RefRecords(c);
  std::vector<const RefRecord*> product;
  for (const auto& r : records)
    if (Same(r.guid, kP)) product.push_back(&r);
  auto names_dll = [](const sim::ProviderEntry& e) {
    std::u16string p = e.path;
    size_t slash = p.find_last_of(u"\\/");
    std::u16string n = slash == std::u16string::npos ? p : p.substr(slash + 1);
    for (auto& ch : n) ch = ch >= u'A' && ch <= u'Z' ? static_cast<char16_t>(ch - u'A' + u'a') : ch;
    return n == u"ztxlsp.dll" || n == u"ztxlsp64.dll";
  };
  auto judge = [&](const std::vector<sim::ProviderEntry>& left) {
    for (const auto& e : left) {
      if (Same(e.guid, kP) || names_dll(e)) return false;
      for (int k = 0; e.chain_len > 1 && k < e.chain_len; ++k)
        if (x.removed.count(e.chain[k])) return false;
    }
    return true;
  };
  if (!any_base || product.empty()) {
    x.whole = judge(c);
    return x;
  }
  std::set<std::string> dg = {kProduct};
  for (const RefRecord* r : product) dg.insert(r->guids.begin(), r->guids.end());
  auto in_dg = [&](const sim::ProviderEntry& e) { return dg.count(sim::GuidText(e.guid)) != 0; };
  std::set<DWORD> product_ids;
  for (const RefRecord* r : product) product_ids.insert(r->entries.begin(), r->entries.end());
  for (const auto& e : c)
    if (Same(e.guid, kP)) product_ids.insert(e.id);
  std::set<DWORD> dg_ids;
  for (const auto& e : c)
    if (in_dg(e)) dg_ids.insert(e.id);

  // Each other entry loses the removed entries from its chain.
  enum { kKeep, kGone, kChanged, kDropped };
  std::vector<int> fate(c.size(), kKeep);
  bool refuse = false;
  for (size_t i = 0; i < c.size(); ++i) {
    if (product_ids.count(c[i].id)) {
      fate[i] = kGone;
      continue;
    }
    sim::ProviderEntry& a = x.after[i];
    if (a.chain_len > 1) {
      std::vector<DWORD> kept = {a.chain[0]};
      for (int k = 1; k < a.chain_len; ++k)
        if (!dg_ids.count(a.chain[k])) kept.push_back(a.chain[k]);
      if (static_cast<int>(kept.size()) != a.chain_len) {
        fate[i] = kept.size() < 2 ? kDropped : kChanged;
        a.chain = kept;
        a.chain_len = static_cast<int>(kept.size());
      }
    }
    if (in_dg(c[i]) && c[i].chain_len < 2) refuse = true;  // only chains come back under new ids
  }
  // Per GUID of other providers: updated in place, or deinstalled and installed again.
  std::vector<std::string> order_of_guids;
  for (const auto& e : c) {
    std::string g = sim::GuidText(e.guid);
    if (std::find(order_of_guids.begin(), order_of_guids.end(), g) == order_of_guids.end()) order_of_guids.push_back(g);
  }
  std::map<std::string, bool> reinstall;  // GUIDs to repair -> reinstalled
  for (const std::string& g : order_of_guids) {
    bool touched = false, drop = false, collateral = false;
    for (size_t i = 0; i < c.size(); ++i) {
      if (sim::GuidText(c[i].guid) != g || fate[i] == kGone) continue;
      touched = touched || fate[i] != kKeep || dg.count(g);
      drop = drop || fate[i] == kDropped;
      collateral = collateral || dg.count(g);
    }
    if (!touched) continue;
    reinstall[g] = collateral || drop || !update;
  }
  bool any_reinstall = false;
  for (const auto& [g, again] : reinstall) {
    if (!again) continue;
    any_reinstall = true;
    for (size_t i = 0; i < c.size(); ++i)
      if (sim::GuidText(c[i].guid) == g && fate[i] != kGone && c[i].chain_len < 2) refuse = true;
  }
  (void)any_reinstall;
  if (refuse) {
    x.after = c;
    x.whole = false;
    return x;
  }
  x.removed = dg_ids;
  for (size_t i = 0; i < c.size(); ++i)
    if (reinstall.count(sim::GuidText(c[i].guid)) && reinstall[sim::GuidText(c[i].guid)]) x.removed.insert(c[i].id);
  for (size_t i = 0; i < c.size(); ++i)
    if (fate[i] == kDropped) x.dropped.insert(std::string(c[i].name.begin(), c[i].name.end()));
  bool reinstalled = false;
  auto survivors = [&](const std::string& g) {
    int n = 0;
    for (size_t i = 0; i < c.size(); ++i) n += sim::GuidText(c[i].guid) == g && fate[i] != kGone && fate[i] != kDropped;
    return n;
  };
  for (const std::string& g : order_of_guids) {
    if (!reinstall.count(g) || dg.count(g)) continue;
    if (!reinstall[g]) {
      x.calls.push_back("update " + g);
      continue;
    }
    x.calls.push_back("deinstall " + g);
    reinstalled = true;
    if (survivors(g) > 0) x.calls.push_back("install " + g);
  }
  for (const RefRecord* r : product) {
    for (const std::string& g : r->guids) x.calls.push_back("deinstall " + g);
    x.calls.push_back("deinstall " + std::string(kProduct));
  }
  for (const std::string& g : order_of_guids) {
    if (!reinstall.count(g) || !dg.count(g) || survivors(g) == 0) continue;
    x.calls.push_back("install " + g);
    reinstalled = true;
  }
  if (reinstalled) x.calls.push_back("order");
  std::vector<sim::ProviderEntry> left;
  for (size_t i = 0; i < c.size(); ++i) {
    if (fate[i] == kGone || fate[i] == kDropped) continue;
    sim::ProviderEntry e = x.after[i];
    auto it = reinstall.find(sim::GuidText(e.guid));
    if (it != reinstall.end() && it->second) e.id = 0;
    left.push_back(e);
  }
  x.after = left;
  x.whole = judge(left);
  return x;
}

std::vector<std::string> ActualCalls() {
  std::vector<std::string> r;
  for (const sim::CatalogCall& call : sim::CatalogCalls())
    r.push_back(call.call == "order" ? "order" : call.call + " " + sim::GuidText(call.guid));
  return r;
}

std::string Name(const sim::ProviderEntry& e) { return std::string(e.name.begin(), e.name.end()); }

// Nothing of another provider is lost: each of its entries that the repair
// does not drop is still there with its GUID, DLL path, protocol triple, and
// in the same order relative to the others.
void ExpectOthersKept(const std::vector<sim::ProviderEntry>& before, const std::set<DWORD>& product_ids,
                      const std::set<std::string>& dropped) {
  std::vector<sim::ProviderEntry> now = sim::CatalogEntries();
  size_t at = 0;
  for (const auto& e : before) {
    if (product_ids.count(e.id) || dropped.count(Name(e))) continue;
    while (at < now.size() && Name(now[at]) != Name(e)) ++at;
    ASSERT_LT(at, now.size()) << Name(e) << " lost or moved";
    EXPECT_TRUE(Same(now[at].guid, e.guid));
    EXPECT_EQ(now[at].path, e.path);
    EXPECT_EQ(now[at].family, e.family);
    EXPECT_EQ(now[at].type, e.type);
    EXPECT_EQ(now[at].protocol, e.protocol);
  }
}

std::set<DWORD> ProductIds(const std::vector<sim::ProviderEntry>& c) {
  std::set<DWORD> ids;
  std::vector<RefRecord> records = RefRecords(c);
  bool any_base = false;
  for (const auto& e : c) any_base = any_base || e.chain_len == 1;
  for (const auto& r : records)
    if (Same(r.guid, kP) && any_base) ids.insert(r.entries.begin(), r.entries.end());
  for (const auto& e : c)
    if (Same(e.guid, kP)) ids.insert(e.id);
  return ids;
}

int RunStep() {
  StartWinsock();
  int whole;
  {
    BoundCatalog catalog(false);
    whole = RemoveProductFromCatalog(catalog.Api());
  }
  WSACleanup();
  return whole;
}

TEST(LspProperty, RandomCatalogsAgainstTheReference) {
  std::mt19937 rng(20240611);
  const char* const kFaultable[] = {"HeapAlloc",          "WSCEnumProtocols",   "WSCGetProviderPath",
                                    "WSCDeinstallProvider", "WSCUpdateProvider", "WSCInstallProvider",
                                    "WSCWriteProviderOrder"};
  int repaired = 0, refused = 0, twice = 0;
  for (int iteration = 0; iteration < 10000; ++iteration) {
    SCOPED_TRACE(iteration);
    auto catalog = RandomCatalog(rng);
    // Windows 2000 has no WSCUpdateProvider: every repair is a reinstall.
    // One machine per kind; each catalog starts with a clean slate of calls.
    const bool update = iteration < 6500;
    if (iteration == 0 || iteration == 6500) sim::Reset(update ? sim::Windows::WinXP : sim::Windows::Win2000);
    sim::ClearFaults();
    sim::ClearCalls();
    sim::ClearCatalogCalls();
    sim::SetCatalog(catalog);
    sim::ClearDebug();

    // The records.
    std::vector<RefRecord> expected_records = RefRecords(catalog);
    {
      CVLLspSetup s;
      ASSERT_TRUE(s.EnumerateProviders());
      Records r;
      r.entries = s.CreateLspEntry(&r.count);
      bool any_base = false;
      for (const auto& e : catalog) any_base = any_base || e.chain_len == 1;
      ASSERT_EQ(r.entries != nullptr, any_base);
      for (int i = 0; r.entries != nullptr && i < r.count; ++i) {
        const LspEntry& got = r.entries[i];
        const RefRecord& want = expected_records[i];
        ASSERT_EQ(got.LayeredProvider.dwCatalogEntryId, want.layered);
        std::vector<DWORD> ids;
        for (int k = 0; k < got.LayeredEntryCount; ++k) ids.push_back(got.LayeredEntries[k].dwCatalogEntryId);
        ASSERT_EQ(ids, want.entries);
        std::vector<std::string> guids;
        for (int k = 0; k < got.LayeredGuidCount; ++k) guids.push_back(sim::GuidText(got.LayeredGuids[k]));
        ASSERT_EQ(guids, want.guids);
        ASSERT_EQ(got.MaxChainLen, want.max_len);
        ASSERT_EQ(got.Order, want.order);
      }
    }

    // The removal without faults: its calls and the catalog it leaves.
    Expected x = Reference(catalog, update);
    sim::ClearCalls();
    sim::ClearDebug();
    sim::ClearCatalogCalls();
    const size_t calls_before = 0;
    const size_t blocks_before = sim::LiveHeapBlocks();
    int whole = RunStep();
    std::vector<std::string> calls = ActualCalls();
    calls.erase(calls.begin(), calls.begin() + static_cast<long>(calls_before));
    ASSERT_EQ(calls, x.calls);
    std::vector<sim::ProviderEntry> left = sim::CatalogEntries();
    ASSERT_EQ(left.size(), x.after.size());
    std::set<DWORD> old_ids;
    for (const auto& e : catalog) old_ids.insert(e.id);
    for (size_t i = 0; i < left.size(); ++i) {
      const sim::ProviderEntry& want = x.after[i];
      ASSERT_EQ(Name(left[i]), Name(want));
      if (want.id != 0) ASSERT_EQ(left[i].id, want.id);
      else ASSERT_FALSE(old_ids.count(left[i].id));
      ASSERT_TRUE(Same(left[i].guid, want.guid));
      ASSERT_EQ(left[i].chain_len, want.chain_len);
      ASSERT_EQ(left[i].chain, want.chain);
      ASSERT_EQ(left[i].path, want.path);
    }
    ASSERT_EQ(whole, x.whole ? 1 : 0);
    ASSERT_EQ(sim::LiveHeapBlocks(), blocks_before);
    std::set<DWORD> product_ids = ProductIds(catalog);
    ExpectOthersKept(catalog, product_ids, x.dropped);
    repaired += std::count(x.calls.begin(), x.calls.end(), "order") + (x.calls.size() > 0 && x.calls[0][0] == 'u');
    refused += !x.whole && x.calls.empty() && !product_ids.empty();
    twice += std::count(x.calls.begin(), x.calls.end(), "deinstall " + std::string(kProduct)) > 3;

    // The same catalog with one call made to fail.
    sim::ClearCalls();
    sim::ClearDebug();
    sim::ClearCatalogCalls();
    sim::SetCatalog(catalog);
    const char* fault = kFaultable[rng() % (sizeof kFaultable / sizeof kFaultable[0])];
    sim::FailCall(fault, 1 + static_cast<int>(rng() % 6), std::string(fault) == "HeapAlloc" ? ERROR_NOT_ENOUGH_MEMORY : WSAEFAULT);
    const size_t blocks = sim::LiveHeapBlocks();
    whole = RunStep();
    sim::ClearFaults();
    ASSERT_EQ(sim::LiveHeapBlocks(), blocks);
    ASSERT_EQ(sim::WinsockStartedCount(), 0);
    if (whole) {
      SCOPED_TRACE(fault);
      std::set<DWORD> present;
      for (const auto& e : sim::CatalogEntries()) present.insert(e.id);
      for (const auto& e : sim::CatalogEntries()) {
        ASSERT_FALSE(Same(e.guid, kP));
        for (int k = 0; e.chain_len > 1 && k < e.chain_len; ++k)
          ASSERT_FALSE(old_ids.count(e.chain[k]) && !present.count(e.chain[k])) << "chain " << e.id << " names a removed entry";
      }
      ExpectOthersKept(catalog, product_ids, x.dropped);
    }
  }
  // The generator reaches what the reference is about.
  EXPECT_GT(repaired, 300);
  EXPECT_GT(refused, 50);
  EXPECT_GT(twice, 100);
}

}  // namespace
