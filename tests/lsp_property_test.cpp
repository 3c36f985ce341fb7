// Seeded random catalogs: the model never leaks or crashes, lists exactly the
// entries that begin with each layered entry, ends sorted, and the removal
// touches only the GUIDs of the product's record.
#include <gtest/gtest.h>

#include "lsp_catalog.h"

#include <algorithm>
#include <random>
#include <set>

using namespace lsptest;

namespace {

std::string G(unsigned data1) {
  char buf[64];
  snprintf(buf, sizeof buf, "{%08X-1111-4000-8000-000000000000}", data1);
  return buf;
}

std::vector<sim::ProviderEntry> RandomCatalog(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::vector<sim::ProviderEntry> c;
  std::vector<DWORD> bases, layered;
  DWORD next = 1000;
  int nb = pick(8) == 0 ? 0 : 1 + pick(4);
  for (int i = 0; i < nb; ++i) {
    bases.push_back(++next);
    c.push_back(Entry(next, i % 2 ? kMsTcp : G(0xba5e).c_str(), 1, {next}, u"base"));
  }
  int nl = pick(5);
  std::vector<std::string> own, second;
  for (int i = 0; i < nl; ++i) {
    layered.push_back(++next);
    own.push_back(pick(3) == 0 ? kProduct : G(0x100 + i));
    second.push_back(G(0x200 + i));
    c.push_back(Entry(next, own.back().c_str(), 0, {}, u"lsp"));
  }
  for (int i = 0; i < nl; ++i) {
    for (int k = pick(4); k > 0; --k) {
      std::vector<DWORD> chain = {layered[i]};
      for (int m = pick(3); m > 0; --m) chain.push_back(layered[pick(nl)]);
      if (!bases.empty() && pick(5) != 0) chain.push_back(bases[pick(static_cast<int>(bases.size()))]);
      else chain.push_back(9000 + pick(50));  // a dangling id
      chain.resize(std::min<size_t>(chain.size(), MAX_PROTOCOL_CHAIN));
      if (chain.size() == 1) chain.push_back(9999);
      c.push_back(Entry(++next, (pick(2) ? own[i] : second[i]).c_str(), static_cast<int>(chain.size()), chain,
                        u"chain"));
    }
  }
  std::shuffle(c.begin(), c.end(), rng);
  return c;
}

TEST(LspProperty, RandomCatalogs) {
  sim::Reset(sim::Windows::WinXP);
  std::mt19937 rng(20240611);
  const GUID product = sim::ParseGuid(kProduct);
  for (int iteration = 0; iteration < 10000; ++iteration) {
    SCOPED_TRACE(iteration);
    auto catalog = RandomCatalog(rng);
    sim::SetCatalog(catalog);
    sim::ClearCalls();
    sim::ClearDebug();
    sim::ClearFaults();
    if (rng() % 4 == 0) sim::FailCall("HeapAlloc", 1 + static_cast<int>(rng() % 12), ERROR_NOT_ENOUGH_MEMORY);
    const size_t blocks_before = sim::LiveHeapBlocks();
    {
      CVLLspSetup s;
      if (s.EnumerateProviders()) {
        int count = -1;
        LspEntry* r = s.CreateLspEntry(&count);
        if (r != nullptr) {
          for (int i = 0; i < count; ++i) {
            const LspEntry& e = r[i];
            std::vector<DWORD> expected, got;
            for (const auto& p : catalog) {
              DWORD first = p.chain_len == 0 ? p.id : p.chain[0];
              if (first == e.LayeredProvider.dwCatalogEntryId) expected.push_back(p.id);
            }
            for (int k = 0; k < e.LayeredEntryCount; ++k) got.push_back(e.LayeredEntries[k].dwCatalogEntryId);
            ASSERT_EQ(got, expected);
            if (i > 0) {
              ASSERT_LE(r[i - 1].Order, e.Order);
              if (r[i - 1].Order == e.Order && e.Order < 7) {
                ASSERT_LE(r[i - 1].MaxChainLen, e.MaxChainLen);
              }
            }
          }
          ReleaseLspEntries(r, count);
        }
      }
    }
    ASSERT_EQ(sim::LiveHeapBlocks(), blocks_before);

    // The removal, without faults, against the first product record of the order.
    sim::ClearFaults();
    std::set<std::string> allowed;
    {
      CVLLspSetup s;
      int count = 0;
      LspEntry* r = s.EnumerateProviders() ? s.CreateLspEntry(&count) : nullptr;
      for (int i = 0; r != nullptr && i < count; ++i) {
        if (!sim::SameGuid(r[i].LayeredProvider.ProviderId, product)) continue;
        for (int g = 0; g < r[i].LayeredGuidCount; ++g) allowed.insert(sim::GuidText(r[i].LayeredGuids[g]));
        break;
      }
      ReleaseLspEntries(r, count);
    }
    size_t deinstalls_before = sim::DeinstallCalls().size();
    {
      CVLLspSetup s;
      s.RemoveAllLayered(&product);
    }
    auto calls = sim::DeinstallCalls();
    for (size_t k = deinstalls_before; k < calls.size(); ++k)
      ASSERT_TRUE(allowed.count(sim::GuidText(calls[k].guid))) << sim::GuidText(calls[k].guid);
    // Base providers and layered entries of other LSPs survive.
    std::set<DWORD> left;
    for (const auto& p : sim::CatalogEntries()) left.insert(p.id);
    for (const auto& p : catalog)
      if (p.chain_len == 1 || (p.chain_len == 0 && !sim::SameGuid(p.guid, product))) {
        ASSERT_TRUE(left.count(p.id));
      }
    ASSERT_EQ(sim::LiveHeapBlocks(), blocks_before);
  }
}

}  // namespace
