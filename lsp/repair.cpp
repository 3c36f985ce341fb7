// The removal of every record of the product's LSP, with the repair of the
// chains that other providers built over it. A chain that still names a
// removed layered entry makes every socket of its protocol fail, so the
// whole repair is planned from the one snapshot before anything changes,
// and the product's records go only once the chains over them are repaired.
#include "common/owners.h"
#include "lsp/setup.h"

namespace {

unsigned Hex(const GUID& guid) { return static_cast<unsigned>(guid.Data1); }

enum Fate : BYTE {
  kKeep,     // left as it is
  kGone,     // the product's: deinstalled with its record
  kChanged,  // its chain loses the removed entries
  kDropped,  // its chain would be left with nothing layered in it
};

enum Method : BYTE { kNone, kUpdate, kReinstall };

// What the plan decides for one snapshot entry.
struct Planned {
  WSAPROTOCOL_INFOW after;  // the entry as it is to be left
  BYTE fate;
  BYTE removed_guid;        // its GUID goes with the product's records
  BYTE method;              // on the first entry of a GUID: how that GUID is repaired
  BYTE reinstalled;         // it comes back under a new catalog id
  WCHAR path[MAX_PATH];     // on the first entry of a repaired GUID: its DLL path
};

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

// The first snapshot entry that carries the entry's GUID.
int FirstOfGuid(const WSAPROTOCOL_INFOW* providers, int i) {
  int f = 0;
  while (!IsSameGuid(providers[f].ProviderId, providers[i].ProviderId)) ++f;
  return f;
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

}  // namespace

void CVLLspSetup::ForgetRemovedIds() {
  if (removed_ids_ != nullptr) {
    HANDLE heap = HeapForRelease();
    if (heap != nullptr) HeapFree(heap, 0, removed_ids_);
  }
  removed_ids_ = nullptr;
  removed_count_ = 0;
}

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
    int len = e.ProtocolChain.ChainLen;
    if (len > MAX_PROTOCOL_CHAIN) len = MAX_PROTOCOL_CHAIN;
    for (int k = 1; k < len; ++k)
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
  // The GUIDs that the records' deinstalls take away: every listed GUID of
  // every record of the product, and the product's own.
  int guid_room = 1;
  for (int r = 0; r < count; ++r)
    if (IsSameGuid(entries[r].LayeredProvider.ProviderId, t)) guid_room += entries[r].LayeredGuidCount;
  ScopedHeapBlock guid_block(RememberedHeap(), AllocZeroed(static_cast<SIZE_T>(guid_room) * sizeof(GUID)));
  ScopedHeapBlock plan_block(RememberedHeap(), AllocZeroed(static_cast<SIZE_T>(n) * sizeof(Planned) + 1));
  ScopedHeapBlock info_block(RememberedHeap(),
                             AllocZeroed(static_cast<SIZE_T>(n) * sizeof(WSAPROTOCOL_INFOW) + 1));
  void* ids = AllocZeroed(static_cast<SIZE_T>(n) * sizeof(DWORD) + 1);
  GUID* removed_guids = static_cast<GUID*>(guid_block.Get());
  Planned* plan = static_cast<Planned*>(plan_block.Get());
  WSAPROTOCOL_INFOW* infos = static_cast<WSAPROTOCOL_INFOW*>(info_block.Get());
  if (ids == nullptr || removed_guids == nullptr || plan == nullptr || infos == nullptr) {
    ScopedHeapBlock lost(RememberedHeap(), ids);
    DebugTrace("CVLLspSetup::RemoveAllLayered repair plan heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return false;
  }
  removed_ids_ = static_cast<DWORD*>(ids);
  removed_count_ = 0;

  int guid_count = 0;
  removed_guids[guid_count++] = t;
  for (int r = 0; r < count; ++r) {
    if (!IsSameGuid(entries[r].LayeredProvider.ProviderId, t)) continue;
    for (int g = 0; g < entries[r].LayeredGuidCount; ++g)
      if (!Listed(removed_guids, guid_count, entries[r].LayeredGuids[g]))
        removed_guids[guid_count++] = entries[r].LayeredGuids[g];
  }

  // The product's entries: those of its records (every entry whose chain
  // starts at one of its layered entries) and every one carrying its GUID.
  for (int i = 0; i < n; ++i) {
    Planned& p = plan[i];
    p.after = Providers[i];
    p.removed_guid = Listed(removed_guids, guid_count, Providers[i].ProviderId);
    bool product = IsSameGuid(Providers[i].ProviderId, t);
    for (int r = 0; r < count && !product; ++r) {
      if (!IsSameGuid(entries[r].LayeredProvider.ProviderId, t)) continue;
      product = IsFirstOfRecord(Providers[i], entries[r].LayeredProvider.dwCatalogEntryId);
    }
    p.fate = product ? kGone : kKeep;
    if (p.removed_guid) removed_ids_[removed_count_++] = Providers[i].dwCatalogEntryId;
  }

  // Every other entry loses the removed entries from its chain; an entry
  // that shares a removed GUID goes with it and comes back under a new id.
  bool plan_ok = true;
  for (int i = 0; i < n; ++i) {
    Planned& p = plan[i];
    if (p.fate == kGone) continue;
    WSAPROTOCOLCHAIN& chain = p.after.ProtocolChain;
    int len = chain.ChainLen;
    if (len > 1) {
      if (len > MAX_PROTOCOL_CHAIN) len = MAX_PROTOCOL_CHAIN;
      int kept = 1;
      for (int k = 1; k < len; ++k)
        if (!ListedId(removed_ids_, removed_count_, chain.ChainEntries[k]))
          chain.ChainEntries[kept++] = chain.ChainEntries[k];
      for (int k = kept; k < MAX_PROTOCOL_CHAIN; ++k) chain.ChainEntries[k] = 0;
      if (kept != len) {
        chain.ChainLen = kept;
        p.fate = kept < 2 ? kDropped : kChanged;
      }
    }
    if (p.removed_guid) {
      p.reinstalled = p.fate != kDropped;
      // Only chains can come back under a new id: nothing names them.
      if (Providers[i].ProtocolChain.ChainLen < 2) plan_ok = false;
    }
  }

  // How each GUID with a changed entry is repaired.
  bool reinstall = false;
  for (int i = 0; i < n && plan_ok; ++i) {
    Planned& p = plan[i];
    if (p.fate == kGone || (p.fate == kKeep && !p.removed_guid)) continue;
    int f = FirstOfGuid(Providers, i);
    Planned& first = plan[f];
    if (first.method != kNone) {
      if (first.method == kUpdate && p.fate == kDropped) first.method = kReinstall;
    } else {
      first.method = p.removed_guid || p.fate == kDropped || api_->UpdateProvider == nullptr ? kReinstall : kUpdate;
      int length = MAX_PATH - 1;
      int error = 0;
      GUID g = Providers[f].ProviderId;
      if (api_->GetProviderPath(&g, first.path, &length, &error) == SOCKET_ERROR) {
        DebugTrace("CVLLspSetup::RemoveAllLayered repair WSCGetProviderPath error:[%u] guid:[%x]",
                   static_cast<unsigned>(error), Hex(g));
        plan_ok = false;
      }
      first.path[MAX_PATH - 1] = 0;
    }
  }
  for (int i = 0; i < n && plan_ok; ++i) {
    const Planned& first = plan[FirstOfGuid(Providers, i)];
    if (first.method != kReinstall) continue;
    reinstall = true;
    if (plan[i].removed_guid) continue;
    // The GUID's every entry comes back under a new id.
    plan[i].reinstalled = plan[i].fate != kDropped;
    if (Providers[i].ProtocolChain.ChainLen < 2) plan_ok = false;
    if (!ListedId(removed_ids_, removed_count_, Providers[i].dwCatalogEntryId))
      removed_ids_[removed_count_++] = Providers[i].dwCatalogEntryId;
  }
  if (reinstall && (api_->InstallProvider == nullptr || api_->WriteProviderOrder == nullptr)) plan_ok = false;
  if (!plan_ok) {
    // Nothing is changed: no chain can lose an entry to this run.
    removed_count_ = 0;
    DebugTrace("CVLLspSetup::RemoveAllLayered repair plan error");
    return false;
  }
  for (int i = 0; i < n; ++i) {
    const Planned& p = plan[i];
    if (p.fate == kChanged)
      DebugTrace("CVLLspSetup::RemoveAllLayered repair chain id:[%u] len:[%d] to:[%d] name:[%.256ws]",
                 static_cast<unsigned>(Providers[i].dwCatalogEntryId), Providers[i].ProtocolChain.ChainLen,
                 p.after.ProtocolChain.ChainLen, Providers[i].szProtocol);
    else if (p.fate == kDropped)
      DebugTrace("CVLLspSetup::RemoveAllLayered drop chain id:[%u] name:[%.256ws]",
                 static_cast<unsigned>(Providers[i].dwCatalogEntryId), Providers[i].szProtocol);
  }

  // The entries of one GUID as they are to be left, in catalog order.
  auto gather = [&](int f) {
    DWORD m = 0;
    for (int i = f; i < n; ++i)
      if (IsSameGuid(Providers[i].ProviderId, Providers[f].ProviderId) && plan[i].fate != kDropped &&
          plan[i].fate != kGone)
        infos[m++] = plan[i].after;
    return m;
  };
  auto failed = [&](const char* call, int ret, int error, const GUID& g) {
    DebugTrace("CVLLspSetup::RemoveAllLayered %s repair error ret:[%x] error:[%u] guid:[%x]", call,
               static_cast<unsigned>(ret), static_cast<unsigned>(error), Hex(g));
    return false;
  };

  // First the chains over the product: until they are repaired, its records
  // stay, and a failed repair leaves every chain whole.
  bool ok = true;
  bool reinstalled = false;
  for (int f = 0; f < n && ok; ++f) {
    if (plan[f].method == kNone || plan[f].removed_guid) continue;
    GUID g = Providers[f].ProviderId;
    DWORD m = gather(f);
    int error = 0;
    if (plan[f].method == kUpdate) {
      DebugTrace("CVLLspSetup::RemoveAllLayered WSCUpdateProvider guid:[%x] count:[%u]", Hex(g),
                 static_cast<unsigned>(m));
      int ret = api_->UpdateProvider(&g, plan[f].path, infos, m, &error);
      if (ret == SOCKET_ERROR) ok = failed("WSCUpdateProvider", ret, error, g);
      continue;
    }
    DebugTrace("CVLLspSetup::RemoveAllLayered WSCDeinstallProvider repair guid:[%x]", Hex(g));
    int ret = api_->DeinstallProvider(&g, &error);
    if (ret == SOCKET_ERROR) {
      ok = failed("WSCDeinstallProvider", ret, error, g);
      continue;
    }
    reinstalled = true;
    if (m == 0) continue;
    DebugTrace("CVLLspSetup::RemoveAllLayered WSCInstallProvider guid:[%x] count:[%u]", Hex(g),
               static_cast<unsigned>(m));
    ret = api_->InstallProvider(&g, plan[f].path, infos, m, &error);
    if (ret == SOCKET_ERROR) ok = failed("WSCInstallProvider", ret, error, g);
  }

  // Then every record of the product, each as the first has always gone.
  int all_final = 1;
  for (int r = 0; r < count && ok; ++r) {
    if (!IsSameGuid(entries[r].LayeredProvider.ProviderId, t)) continue;
    int final_result = RemoveRecord(entries, r, t);
    if (final_result < 0) ok = false;
    if (final_result != 1) all_final = 0;
  }
  *result = ok ? all_final : 0;

  // Then what other providers lost with a GUID they shared with the product.
  for (int f = 0; f < n && ok; ++f) {
    if (plan[f].method == kNone || !plan[f].removed_guid) continue;
    GUID g = Providers[f].ProviderId;
    DWORD m = gather(f);
    if (m == 0) continue;
    reinstalled = true;
    int error = 0;
    DebugTrace("CVLLspSetup::RemoveAllLayered WSCInstallProvider guid:[%x] count:[%u]", Hex(g),
               static_cast<unsigned>(m));
    int ret = api_->InstallProvider(&g, plan[f].path, infos, m, &error);
    if (ret == SOCKET_ERROR) ok = failed("WSCInstallProvider", ret, error, g);
  }

  // An install appends at the end of the catalog: put every entry back in
  // its place.
  if (reinstalled && !RestoreOrder(plan_block.Get())) ok = false;
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
  auto known = [&](DWORD id) {
    for (int i = 0; i < ProviderCount; ++i)
      if (Providers[i].dwCatalogEntryId == id) return true;
    return false;
  };
  DWORD k = 0;
  for (int i = 0; i < ProviderCount; ++i) {
    for (int j = 0; j < m; ++j) {
      if (placed[j]) continue;
      const WSAPROTOCOL_INFOW& e = fresh.Providers[j];
      bool match = plan[i].reinstalled
                       ? IsSameGuid(e.ProviderId, Providers[i].ProviderId) && !known(e.dwCatalogEntryId)
                       : e.dwCatalogEntryId == Providers[i].dwCatalogEntryId;
      if (!match) continue;
      placed[j] = 1;
      order[k++] = e.dwCatalogEntryId;
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
    int len = e.ProtocolChain.ChainLen;
    if (len > MAX_PROTOCOL_CHAIN) len = MAX_PROTOCOL_CHAIN;
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
  CVLLspSetup setup(api);
  setup.RemoveAllLayered(&ProductLspGuid);
  return setup.IsCatalogWhole(&ProductLspGuid);
}
