// The removal of every record of the product's LSP, with the repair of the
// chains that other providers built over it. A chain that still names a
// removed entry makes every socket of its protocol fail, so the whole repair
// is planned from the one snapshot before anything changes, and the
// product's records go only once the chains over them are repaired.
//
// Installers built on the SDK's layered-provider sample give every chain a
// GUID of its own and put in its element 1 the id of the entry it was
// installed over, which is another LSP's chain entry when it went on top of
// one. Without WSCUpdateProvider (before Windows XP) a chain is repaired by
// deinstalling its GUID and installing it again, and it comes back under a
// new id; every chain that names it must then be written again with the new
// id, after it (the SDK sample's lspdel.cpp does the same).
#include "common/owners.h"
#include "lsp/setup.h"

namespace {

unsigned Hex(const GUID& guid) { return static_cast<unsigned>(guid.Data1); }

enum Fate : BYTE {
  kKeep,     // left as it is
  kGone,     // the product's: deinstalled with its record
  kChanged,  // its chain loses removed entries or names a reinstalled one
  kDropped,  // its chain would be left with nothing layered in it
};

enum Method : BYTE { kNone, kUpdate, kReinstall };

// What the plan decides for one snapshot entry.
struct Planned {
  int at[MAX_PROTOCOL_CHAIN];  // snapshot index of each chain element, -1 when not listed
  int first;                   // the first snapshot entry of its GUID
  int depth;                   // on a first entry: how many reinstalled GUIDs its GUID rests on, stacked
  DWORD new_id;                // the id it came back under
  BYTE fate;
  BYTE removed_guid;           // its GUID goes with the product's records
  BYTE method;                 // on a first entry: how its GUID is repaired
  BYTE reinstalled;            // it comes back under a new catalog id
  WCHAR path[MAX_PATH];        // on the first entry of a repaired GUID: its DLL path
};

bool Goes(const Planned& p) { return p.fate == kGone || p.fate == kDropped; }

int ChainLength(const WSAPROTOCOL_INFOW& e) {
  int len = e.ProtocolChain.ChainLen;
  return len > MAX_PROTOCOL_CHAIN ? MAX_PROTOCOL_CHAIN : len;
}

void* AllocZeroed(SIZE_T bytes) {
  HANDLE heap = HeapForNewBlock();
  return heap == nullptr ? nullptr : HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes);
}

bool Listed(const GUID* list, int count, const GUID& g) {
  for (int i = 0; i < count; ++i)
    if (IsSameGuid(list[i], g)) return true;
  return false;
}

bool ListedId(const DWORD* list, int count, DWORD id) {
  for (int i = 0; i < count; ++i)
    if (list[i] == id) return true;
  return false;
}

// Whether the entry belongs to the record of the layered entry id: the
// layered entry itself or a chain that starts at it.
bool IsFirstOfRecord(const WSAPROTOCOL_INFOW& e, DWORD id) {
  return e.ProtocolChain.ChainLen == LAYERED_PROTOCOL ? e.dwCatalogEntryId == id : e.ProtocolChain.ChainEntries[0] == id;
}

// Whether the records' deinstalls take the GUID away: a listed GUID of a
// record of the product, or the product's own.
bool IsRemovedGuid(const LspEntry* entries, int count, const GUID& t, const GUID& g) {
  if (IsSameGuid(g, t)) return true;
  for (int r = 0; r < count; ++r)
    if (IsSameGuid(entries[r].LayeredProvider.ProviderId, t) && Listed(entries[r].LayeredGuids, entries[r].LayeredGuidCount, g))
      return true;
  return false;
}

// Each other entry loses the entries that go from its chain, and a GUID with
// a changed entry is repaired: updated in place where the system can, else
// deinstalled and installed again, which gives its entries new ids and so
// changes every chain that names one of them. Repeated until nothing moves;
// fates and methods only ever grow, so it ends.
void Settle(const WSAPROTOCOL_INFOW* providers, int n, Planned* plan, bool can_update) {
  for (bool moved = true; moved;) {
    moved = false;
    for (int i = 0; i < n; ++i) {
      Planned& p = plan[i];
      const int len = ChainLength(providers[i]);
      if (Goes(p) || len < 2) continue;
      int kept = 1;
      bool renamed = false;
      for (int k = 1; k < len; ++k) {
        const int j = p.at[k];
        if (j >= 0 && Goes(plan[j])) continue;
        ++kept;
        renamed = renamed || (j >= 0 && plan[j].reinstalled);
      }
      const BYTE fate = kept < 2 ? kDropped : kept != len || renamed ? kChanged : kKeep;
      if (fate > p.fate) {
        p.fate = fate;
        moved = true;
      }
    }
    for (int f = 0; f < n; ++f) {
      if (plan[f].first != f) continue;
      // An entry of another provider under one of the product's GUIDs goes
      // with the product's deinstalls and must come back.
      bool touched = false, dropped = false, survivors = false;
      for (int i = f; i < n; ++i) {
        if (plan[i].first != f || plan[i].fate == kGone) continue;
        touched = touched || plan[i].fate != kKeep || plan[f].removed_guid;
        dropped = dropped || plan[i].fate == kDropped;
        survivors = survivors || !Goes(plan[i]);
      }
      if (!touched) continue;
      // WSCUpdateProvider wants as many entries as are installed, and an
      // entry deinstalled with the product's GUIDs can only be installed.
      const BYTE method = plan[f].removed_guid || dropped || !can_update ? kReinstall : kUpdate;
      if (method > plan[f].method) {
        plan[f].method = method;
        moved = true;
      }
      for (int i = f; i < n && plan[f].method == kReinstall; ++i) {
        if (plan[i].first != f) continue;
        const BYTE again = !Goes(plan[i]) && survivors;
        if (again != plan[i].reinstalled) {
          plan[i].reinstalled = again;
          moved = true;
        }
      }
    }
  }
}

// The entry as it is to be written: its chain without the entries that go,
// each reinstalled one under its new id.
void Rewrite(const WSAPROTOCOL_INFOW& before, const Planned* plan, const Planned& p, WSAPROTOCOL_INFOW* out) {
  *out = before;
  const int len = ChainLength(before);
  if (len < 2) return;
  WSAPROTOCOLCHAIN& chain = out->ProtocolChain;
  int kept = 1;
  for (int k = 1; k < len; ++k) {
    const int j = p.at[k];
    if (j >= 0 && Goes(plan[j])) continue;
    chain.ChainEntries[kept++] = j >= 0 && plan[j].reinstalled ? plan[j].new_id : before.ProtocolChain.ChainEntries[k];
  }
  for (int k = kept; k < MAX_PROTOCOL_CHAIN; ++k) chain.ChainEntries[k] = 0;
  chain.ChainLen = kept;
}

bool Refuse(const char* what, unsigned a, unsigned b) {
  DebugTrace(what, a, b);
  return false;
}

}  // namespace

bool CVLLspSetup::NeedsRepair(const LspEntry* entries, int count, const GUID& t) const {
  for (int i = 0; i < ProviderCount; ++i) {
    const WSAPROTOCOL_INFOW& e = Providers[i];
    bool product = IsSameGuid(e.ProviderId, t);
    for (int r = 0; r < count && !product; ++r)
      product = IsSameGuid(entries[r].LayeredProvider.ProviderId, t) &&
                IsFirstOfRecord(e, entries[r].LayeredProvider.dwCatalogEntryId);
    if (product) continue;
    // Another provider's entry under a GUID that goes with the product's.
    if (IsRemovedGuid(entries, count, t, e.ProviderId)) return true;
    const int len = ChainLength(e);
    for (int k = 0; len > 1 && k < len; ++k)
      for (int j = 0; j < ProviderCount; ++j)
        if (Providers[j].dwCatalogEntryId == e.ProtocolChain.ChainEntries[k] &&
            IsRemovedGuid(entries, count, t, Providers[j].ProviderId))
          return true;
  }
  return false;
}

bool CVLLspSetup::NoteRemovedIds(const LspEntry* entries, int count, const GUID& t) {
  ForgetRemovedIds();
  removed_ids_ = static_cast<DWORD*>(AllocZeroed(static_cast<SIZE_T>(ProviderCount) * sizeof(DWORD) + 1));
  if (removed_ids_ == nullptr) {
    DebugTrace("CVLLspSetup::RemoveAllLayered removed ids heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return false;
  }
  for (int i = 0; i < ProviderCount; ++i)
    if (IsRemovedGuid(entries, count, t, Providers[i].ProviderId))
      removed_ids_[removed_count_++] = Providers[i].dwCatalogEntryId;
  return true;
}

bool CVLLspSetup::PlanRepair(void* plan_block, const LspEntry* entries, int count, const GUID& t) {
  Planned* plan = static_cast<Planned*>(plan_block);
  const int n = ProviderCount;
  const WSAPROTOCOL_INFOW* providers = Providers;
  for (int i = 0; i < n; ++i) {
    Planned& p = plan[i];
    p.first = i;
    for (int f = 0; f < i && p.first == i; ++f)
      if (IsSameGuid(providers[f].ProviderId, providers[i].ProviderId)) p.first = f;
    const int len = ChainLength(providers[i]);
    for (int k = 0; k < MAX_PROTOCOL_CHAIN; ++k) {
      p.at[k] = -1;
      for (int j = 0; k < len && j < n && p.at[k] < 0; ++j)
        if (providers[j].dwCatalogEntryId == providers[i].ProtocolChain.ChainEntries[k]) p.at[k] = j;
    }
    // The product's entries: those of its records (every entry whose chain
    // starts at one of its layered entries) and every one carrying its GUID.
    p.removed_guid = IsRemovedGuid(entries, count, t, providers[i].ProviderId);
    bool product = IsSameGuid(providers[i].ProviderId, t);
    for (int r = 0; r < count && !product; ++r)
      product = IsSameGuid(entries[r].LayeredProvider.ProviderId, t) &&
                IsFirstOfRecord(providers[i], entries[r].LayeredProvider.dwCatalogEntryId);
    p.fate = product ? kGone : kKeep;
  }
  Settle(providers, n, plan, api_->UpdateProvider != nullptr);

  // What no route can do: give a layered or base entry a new id (every chain
  // over it starts with or ends in it), or rewrite a chain whose head goes.
  bool reinstall = false;
  for (int i = 0; i < n; ++i) {
    const Planned& p = plan[i];
    const WSAPROTOCOL_INFOW& e = providers[i];
    reinstall = reinstall || plan[p.first].method == kReinstall;
    if (p.reinstalled && ChainLength(e) < 2)
      return Refuse("CVLLspSetup::RemoveAllLayered repair refused new id id:[%u] guid:[%x]", e.dwCatalogEntryId, Hex(e.ProviderId));
    const int head = p.at[0];
    if (!Goes(p) && ChainLength(e) > 1 && head >= 0 && (Goes(plan[head]) || plan[head].reinstalled))
      return Refuse("CVLLspSetup::RemoveAllLayered repair refused chain head id:[%u] element:[%u]", e.dwCatalogEntryId,
                    e.ProtocolChain.ChainEntries[0]);
  }
  if (reinstall && (api_->InstallProvider == nullptr || api_->WriteProviderOrder == nullptr))
    return Refuse("CVLLspSetup::RemoveAllLayered repair refused functions install:[%u] order:[%u]",
                  api_->InstallProvider != nullptr, api_->WriteProviderOrder != nullptr);

  // The order of the writes: a GUID goes after every reinstalled GUID that
  // its chains name, whose new ids it must carry. A ring of GUIDs (a GUID
  // naming itself is the smallest) could never be written with ids that
  // exist: its depth still grows after as many passes as there are entries.
  // A GUID that the product's deinstalls take away comes back only after
  // them, too late for the chains over it.
  for (int pass = 0; pass <= n; ++pass) {
    bool moved = false;
    for (int i = 0; i < n; ++i) {
      const Planned& p = plan[i];
      Planned& own = plan[p.first];
      if (Goes(p) || own.method == kNone) continue;
      for (int k = 1; k < ChainLength(providers[i]); ++k) {
        const int j = p.at[k];
        if (j < 0 || !plan[j].reinstalled) continue;
        const Planned& under = plan[plan[j].first];
        if (pass == n && own.depth <= under.depth)
          return Refuse("CVLLspSetup::RemoveAllLayered repair refused loop id:[%u] guid:[%x]",
                        providers[i].dwCatalogEntryId, Hex(providers[i].ProviderId));
        if (under.removed_guid && !own.removed_guid)
          return Refuse("CVLLspSetup::RemoveAllLayered repair refused after product id:[%u] element:[%u]",
                        providers[i].dwCatalogEntryId, providers[j].dwCatalogEntryId);
        if (own.depth <= under.depth) {
          own.depth = under.depth + 1;
          moved = true;
        }
      }
    }
    if (!moved) break;
  }

  // The DLL path each repaired GUID is written with. Both writers set one
  // path for every entry they are given, so a GUID whose entries hold
  // different paths is not written at all.
  for (int f = 0; f < n; ++f) {
    Planned& p = plan[f];
    if (p.first != f || p.method == kNone) continue;
    GUID g = providers[f].ProviderId;
    int length = MAX_PATH - 1;
    int error = 0;
    if (api_->GetProviderPath(&g, p.path, &length, &error) == SOCKET_ERROR) {
      DebugTrace("CVLLspSetup::RemoveAllLayered repair WSCGetProviderPath error:[%u] guid:[%x]",
                 static_cast<unsigned>(error), Hex(g));
      return false;
    }
    p.path[MAX_PATH - 1] = 0;
    int entries_of_guid = 0;
    for (int i = f; i < n; ++i) entries_of_guid += plan[i].first == f;
    if (entries_of_guid < 2) continue;
    const int paths = GuidPathsAgree(*api_, g, entries_of_guid);
    if (paths == kPathsDiffer)
      return Refuse("CVLLspSetup::RemoveAllLayered repair refused paths differ guid:[%x] count:[%u]", Hex(g),
                    static_cast<unsigned>(entries_of_guid));
    if (paths != kPathsAgree)
      return Refuse("CVLLspSetup::RemoveAllLayered repair refused paths unread guid:[%x] count:[%u]", Hex(g),
                    static_cast<unsigned>(entries_of_guid));
  }
  return true;
}

bool CVLLspSetup::WriteRepair(void* plan_block, int f) {
  Planned* plan = static_cast<Planned*>(plan_block);
  const int n = ProviderCount;
  WSAPROTOCOL_INFOW* infos = static_cast<WSAPROTOCOL_INFOW*>(
      AllocZeroed(static_cast<SIZE_T>(n) * sizeof(WSAPROTOCOL_INFOW) + 1));
  ScopedHeapBlock info_block(RememberedHeap(), infos);
  if (infos == nullptr) {
    DebugTrace("CVLLspSetup::RemoveAllLayered repair heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return false;
  }
  // The GUID's entries as they are to be left, in catalog order.
  DWORD m = 0;
  for (int i = f; i < n; ++i)
    if (plan[i].first == f && !Goes(plan[i])) Rewrite(Providers[i], plan, plan[i], &infos[m++]);
  if (m == 0) return true;
  GUID g = Providers[f].ProviderId;
  int error = 0;
  const bool update = plan[f].method == kUpdate;
  DebugTrace(update ? "CVLLspSetup::RemoveAllLayered WSCUpdateProvider guid:[%x] count:[%u]"
                    : "CVLLspSetup::RemoveAllLayered WSCInstallProvider guid:[%x] count:[%u]",
             Hex(g), static_cast<unsigned>(m));
  int ret = update ? api_->UpdateProvider(&g, plan[f].path, infos, m, &error)
                   : api_->InstallProvider(&g, plan[f].path, infos, m, &error);
  if (ret == SOCKET_ERROR) {
    DebugTrace("CVLLspSetup::RemoveAllLayered %s repair error ret:[%x] error:[%u] guid:[%x]",
               update ? "WSCUpdateProvider" : "WSCInstallProvider", static_cast<unsigned>(ret),
               static_cast<unsigned>(error), Hex(g));
    return false;
  }
  if (update) return true;

  // The install appended the GUID's entries in the order given, under ids
  // the system chose: read them back, each checked against what was given.
  CVLLspSetup fresh(*api_);
  if (!fresh.EnumerateProviders()) {
    DebugTrace("CVLLspSetup::RemoveAllLayered repair EnumerateProviders error");
    return false;
  }
  DWORD k = 0;
  int i = f;
  for (int j = 0; j < fresh.ProviderCount; ++j) {
    const WSAPROTOCOL_INFOW& now = fresh.Providers[j];
    if (!IsSameGuid(now.ProviderId, g)) continue;
    while (i < n && (plan[i].first != f || Goes(plan[i]))) ++i;
    if (k == m || i == n || now.iAddressFamily != infos[k].iAddressFamily ||
        now.iSocketType != infos[k].iSocketType || now.iProtocol != infos[k].iProtocol ||
        now.ProtocolChain.ChainLen != infos[k].ProtocolChain.ChainLen) {
      DebugTrace("CVLLspSetup::RemoveAllLayered repair new ids unmatched guid:[%x] id:[%u]", Hex(g),
                 static_cast<unsigned>(now.dwCatalogEntryId));
      return false;
    }
    plan[i].new_id = now.dwCatalogEntryId;
    DebugTrace("CVLLspSetup::RemoveAllLayered repair new id:[%u] was:[%u]", static_cast<unsigned>(now.dwCatalogEntryId),
               static_cast<unsigned>(Providers[i].dwCatalogEntryId));
    ++k;
    ++i;
  }
  if (k != m) {
    DebugTrace("CVLLspSetup::RemoveAllLayered repair new ids missing guid:[%x] count:[%u]", Hex(g),
               static_cast<unsigned>(m - k));
    return false;
  }
  return true;
}

bool CVLLspSetup::RemoveAndRepair(LspEntry* entries, int count, const GUID& t, int* result) {
  if (!NeedsRepair(entries, count, t)) {
    // Nothing of another provider rests on the product: the records go as
    // they always have, and nothing is allocated before them.
    int all_final = 1;
    bool ok = true;
    for (int r = 0; r < count && ok; ++r) {
      if (!IsSameGuid(entries[r].LayeredProvider.ProviderId, t)) continue;
      int final_result = RemoveRecord(entries, r, t);
      if (final_result < 0) ok = false;
      if (final_result != 1) all_final = 0;
    }
    *result = ok ? all_final : 0;
    return NoteRemovedIds(entries, count, t) && ok;
  }
  const int n = ProviderCount;
  ScopedHeapBlock plan_block(RememberedHeap(), AllocZeroed(static_cast<SIZE_T>(n) * sizeof(Planned) + 1));
  void* ids = AllocZeroed(static_cast<SIZE_T>(n) * sizeof(DWORD) + 1);
  Planned* plan = static_cast<Planned*>(plan_block.Get());
  if (ids == nullptr || plan == nullptr) {
    ScopedHeapBlock lost(RememberedHeap(), ids);
    DebugTrace("CVLLspSetup::RemoveAllLayered repair plan heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return false;
  }
  removed_ids_ = static_cast<DWORD*>(ids);
  removed_count_ = 0;
  if (!PlanRepair(plan, entries, count, t)) {
    // Nothing is changed: no chain can lose an entry to this run.
    DebugTrace("CVLLspSetup::RemoveAllLayered repair plan error");
    return false;
  }
  // Every id that this run takes away: no chain may name one afterwards.
  int depth = 0;
  for (int i = 0; i < n; ++i) {
    const Planned& p = plan[i];
    if (Goes(p) || p.removed_guid || p.reinstalled) removed_ids_[removed_count_++] = Providers[i].dwCatalogEntryId;
    if (p.depth > depth) depth = p.depth;
    if (p.fate == kChanged)
      DebugTrace("CVLLspSetup::RemoveAllLayered repair chain id:[%u] len:[%d] to:[%d] name:[%.256ws]",
                 static_cast<unsigned>(Providers[i].dwCatalogEntryId), Providers[i].ProtocolChain.ChainLen,
                 [&] {
                   WSAPROTOCOL_INFOW after;
                   Rewrite(Providers[i], plan, p, &after);
                   return after.ProtocolChain.ChainLen;
                 }(),
                 Providers[i].szProtocol);
    else if (p.fate == kDropped)
      DebugTrace("CVLLspSetup::RemoveAllLayered drop chain id:[%u] name:[%.256ws]",
                 static_cast<unsigned>(Providers[i].dwCatalogEntryId), Providers[i].szProtocol);
  }

  // First the chains over the product: until they are repaired, its records
  // stay, and a failed repair leaves every chain over it whole. The GUIDs
  // that come back under new ids go first, the topmost first, so that no
  // chain left in the catalog names one of them while it is away; then each
  // GUID is written after the ones it rests on.
  bool ok = true;
  bool reinstalled = false;
  for (int d = depth; d >= 0 && ok; --d) {
    for (int f = 0; f < n && ok; ++f) {
      const Planned& p = plan[f];
      if (p.first != f || p.method != kReinstall || p.removed_guid || p.depth != d) continue;
      GUID g = Providers[f].ProviderId;
      int error = 0;
      DebugTrace("CVLLspSetup::RemoveAllLayered WSCDeinstallProvider repair guid:[%x]", Hex(g));
      reinstalled = true;
      int ret = api_->DeinstallProvider(&g, &error);
      if (ret == SOCKET_ERROR) {
        DebugTrace("CVLLspSetup::RemoveAllLayered WSCDeinstallProvider repair error ret:[%x] error:[%u] guid:[%x]",
                   static_cast<unsigned>(ret), static_cast<unsigned>(error), Hex(g));
        ok = false;
      }
    }
  }
  for (int d = 0; d <= depth && ok; ++d)
    for (int f = 0; f < n && ok; ++f)
      if (plan[f].first == f && plan[f].method != kNone && !plan[f].removed_guid && plan[f].depth == d)
        ok = WriteRepair(plan, f);

  // Then every record of the product, each as the first has always gone.
  int all_final = 1;
  for (int r = 0; r < count && ok; ++r) {
    if (!IsSameGuid(entries[r].LayeredProvider.ProviderId, t)) continue;
    int final_result = RemoveRecord(entries, r, t);
    if (final_result < 0) ok = false;
    if (final_result != 1) all_final = 0;
  }
  *result = ok ? all_final : 0;

  // Then what other providers lost with a GUID they shared with the product
  // (unless all of it goes).
  for (int d = 0; d <= depth && ok; ++d)
    for (int f = 0; f < n && ok; ++f) {
      if (plan[f].first != f || plan[f].method == kNone || !plan[f].removed_guid || plan[f].depth != d) continue;
      bool back = false;
      for (int i = f; i < n && !back; ++i) back = plan[i].first == f && plan[i].reinstalled;
      if (!back) continue;
      reinstalled = true;
      ok = WriteRepair(plan, f);
    }

  // An install appends at the end of the catalog: put every entry back in
  // its place.
  if (reinstalled && ok && !RestoreOrder(plan)) ok = false;
  return ok;
}

bool CVLLspSetup::RestoreOrder(const void* plan_block) {
  const Planned* plan = static_cast<const Planned*>(plan_block);
  CVLLspSetup fresh(*api_);
  if (!fresh.EnumerateProviders()) {
    DebugTrace("CVLLspSetup::RemoveAllLayered repair EnumerateProviders error");
    return false;
  }
  const int m = fresh.ProviderCount;
  ScopedHeapBlock order_block(RememberedHeap(), AllocZeroed(static_cast<SIZE_T>(m) * sizeof(DWORD) + 1));
  ScopedHeapBlock placed_block(RememberedHeap(), AllocZeroed(static_cast<SIZE_T>(m) + 1));
  DWORD* order = static_cast<DWORD*>(order_block.Get());
  BYTE* placed = static_cast<BYTE*>(placed_block.Get());
  if (order == nullptr || placed == nullptr) {
    DebugTrace("CVLLspSetup::RemoveAllLayered repair heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return false;
  }
  // The snapshot's order, each entry under the id it has now; whatever else
  // the catalog holds keeps its order after them.
  DWORD k = 0;
  for (int i = 0; i < ProviderCount; ++i) {
    const DWORD id = plan[i].reinstalled ? plan[i].new_id : Providers[i].dwCatalogEntryId;
    for (int j = 0; j < m && !Goes(plan[i]); ++j) {
      if (placed[j] || fresh.Providers[j].dwCatalogEntryId != id) continue;
      placed[j] = 1;
      order[k++] = id;
      break;
    }
  }
  for (int j = 0; j < m; ++j)
    if (!placed[j]) order[k++] = fresh.Providers[j].dwCatalogEntryId;
  DebugTrace("CVLLspSetup::RemoveAllLayered WSCWriteProviderOrder count:[%u]", static_cast<unsigned>(k));
  int ret = api_->WriteProviderOrder(order, k);
  if (ret != 0) {
    DebugTrace("CVLLspSetup::RemoveAllLayered WSCWriteProviderOrder repair error:[%u]", static_cast<unsigned>(ret));
    return false;
  }
  return true;
}

int CVLLspSetup::IsCatalogWhole(const GUID* target) {
  CVLLspSetup look(*api_);
  if (!look.EnumerateProviders()) {
    DebugTrace("CVLLspSetup::IsCatalogWhole EnumerateProviders error");
    return 0;
  }
  int whole = repair_failed_ ? 0 : 1;
  for (int i = 0; i < look.ProviderCount; ++i) {
    const WSAPROTOCOL_INFOW& e = look.Providers[i];
    if (IsSameGuid(e.ProviderId, *target) || NamesProductDll(*api_, e, false)) {
      DebugTrace("CVLLspSetup::IsCatalogWhole product entry id:[%u] guid:[%x]",
                 static_cast<unsigned>(e.dwCatalogEntryId), Hex(e.ProviderId));
      whole = 0;
    }
    const int len = ChainLength(e);
    for (int k = 0; len > 1 && k < len; ++k) {
      if (!ListedId(removed_ids_, removed_count_, e.ProtocolChain.ChainEntries[k])) continue;
      DebugTrace("CVLLspSetup::IsCatalogWhole broken chain id:[%u] element:[%u]",
                 static_cast<unsigned>(e.dwCatalogEntryId), static_cast<unsigned>(e.ProtocolChain.ChainEntries[k]));
      whole = 0;
    }
  }
  return whole;
}

int RemoveProductFromCatalog(const CatalogApi& api) {
  // Without ws2_32 there is no catalog to look at, so none is whole.
  if (!CanReadCatalog(api)) {
    DebugTrace("CVLLspSetup::RemoveAllLayered catalog functions missing");
    return 0;
  }
  CVLLspSetup setup(api);
  setup.RemoveAllLayered(&ProductLspGuid);
  return setup.IsCatalogWhole(&ProductLspGuid);
}

int CVLLspSetup::RemoveRecord(LspEntry* entries, int index, const GUID& t) {
  LspEntry& rec = entries[index];
  DWORD cat = GetCatalogIdByGuid(&rec.LayeredProvider.ProviderId);
  DebugTrace("CVLLspSetup::RemoveAllLayered match guid index:[%d] cat:[%u] dum:[%x] target:[%x]", index,
             static_cast<unsigned>(cat), Hex(rec.LayeredProvider.ProviderId), Hex(t));
  DebugTrace("CVLLspSetup::RemoveAllLayered uninstall guid:[%x] count:[%d]", Hex(t), rec.LayeredGuidCount);
  for (int k = 0; k < rec.LayeredGuidCount; ++k) {
    GUID g = rec.LayeredGuids[k];
    int n = 0;
    WSAPROTOCOL_INFOW* group = CreateLayeredEntriesByGuid(rec.LayeredEntries, rec.LayeredEntryCount, &g, &n);
    if (group == nullptr) {
      DebugTrace("CVLLspSetup::RemoveAllLayered CreateLayeredEntriesByGuid error");
      return -1;
    }
    for (int i = 0; i < n; ++i)
      DebugTrace("CVLLspSetup::RemoveAllLayered associated id:[%d] name:[%.256ws]",
                 static_cast<int>(group[i].dwCatalogEntryId), group[i].szProtocol);
    ReleaseLayeredEntries(group);
    DebugTrace("CVLLspSetup::RemoveAllLayered WSCDeinstallProvider index:[%d] entry:[%d]", index, k);
    int error = 0;
    int ret = api_->DeinstallProvider(&g, &error);
    if (ret == SOCKET_ERROR)
      DebugTrace("CVLLspSetup::RemoveAllLayered WSCDeinstallProvider layered uninstall error ret:[%x] error:[%u] "
                 "guid:[%x]",
                 static_cast<unsigned>(ret), static_cast<unsigned>(error), Hex(g));
  }
  DebugTrace("CVLLspSetup::RemoveAllLayered uninstall lsp id:[%u] name:[%.256ws]",
             static_cast<unsigned>(rec.LayeredProvider.dwCatalogEntryId), rec.LayeredProvider.szProtocol);
  GUID layered = rec.LayeredProvider.ProviderId;
  int error = 0;
  int ret = api_->DeinstallProvider(&layered, &error);
  if (ret == SOCKET_ERROR) {
    DebugTrace("CVLLspSetup::RemoveAllLayered WSCDeinstallProvider base uninstall error ret:[%x] error:[%u]",
               static_cast<unsigned>(ret), static_cast<unsigned>(error));
    return 0;
  }
  return 1;
}

int CVLLspSetup::RemoveAllLayered(const GUID* target) {
  const GUID& t = *target;
  ForgetRemovedIds();
  repair_failed_ = false;
  DebugTrace("CVLLspSetup::RemoveAllLayered [%04x-%04x-%04x-%02x%02x%02x%02x%02x%02x%02x%02x]",
             static_cast<unsigned>(t.Data1), t.Data2, t.Data3, t.Data4[0], t.Data4[1], t.Data4[2], t.Data4[3],
             t.Data4[4], t.Data4[5], t.Data4[6], t.Data4[7]);
  if (!EnumerateProviders()) {
    DebugTrace("CVLLspSetup::RemoveAllLayered EnumerateProviders error");
    return 0;
  }
  int count = 0;
  LspEntry* entries = CreateLspEntry(&count);
  if (entries == nullptr) {
    DebugTrace("CVLLspSetup::RemoveAllLayered CreateLspEntry error");
    return 0;
  }
  ScopedLspEntries owner(entries, count);
  DebugTrace("CVLLspSetup::RemoveAllLayered check entry count:[%d]", count);

  int result = 0;
  int index = 0;
  while (index < count && !IsSameGuid(entries[index].LayeredProvider.ProviderId, t)) ++index;
  if (index == count)
    DebugTrace("CVLLspSetup::RemoveAllLayered no match guid target:[%x]", Hex(t));
  else
    repair_failed_ = !RemoveAndRepair(entries, count, t, &result);
  ReleaseLspEntries(owner.Release(), count);
  DebugTrace("CVLLspSetup::RemoveAllLayered complete result:[%d]", result);
  return result;
}
