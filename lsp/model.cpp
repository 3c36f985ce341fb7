// The layered-chain model: one LspEntry per layered catalog entry, built
// from the snapshot alone (the removal that rests on it is repair.cpp's).
#include "common/owners.h"
#include "lsp/setup.h"

namespace {

void* AllocZeroed(SIZE_T bytes) {
  HANDLE heap = HeapForNewBlock();
  return heap == nullptr ? nullptr : HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes);
}

void FreeBlock(void* block) {
  HANDLE heap = HeapForRelease();
  if (heap != nullptr && block != nullptr) HeapFree(heap, 0, block);
}

unsigned Hex(const GUID& guid) { return static_cast<unsigned>(guid.Data1); }

// The value that identifies a record in the ordering trace lines: the first
// field of its layered entry's GUID, as the "dum" fields show it.
unsigned RecordId(const LspEntry& entry) { return Hex(entry.LayeredProvider.ProviderId); }

void Swap(LspEntry* a, LspEntry* b) {
  LspEntry t;
  memcpy(&t, a, sizeof t);
  memcpy(a, b, sizeof t);
  memcpy(b, &t, sizeof t);
}

}  // namespace

LspEntry* CVLLspSetup::CreateLspEntry(int* out_count) {
  // Phase 1: the array.
  const int n = static_cast<int>(GetProviderCount(LAYERED_PROTOCOL));
  LspEntry* entries = static_cast<LspEntry*>(AllocZeroed(static_cast<SIZE_T>(n) * sizeof(LspEntry)));
  if (entries == nullptr) {
    DebugTrace("CVLLspSetup::CreateLspEntry heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return nullptr;
  }
  ScopedLspEntries owner(entries, n);

  // Phase 2: one record per layered entry.
  int r = 0;
  for (int l = 0; l < ProviderCount && r < n; ++l) {
    if (Providers[l].ProtocolChain.ChainLen != LAYERED_PROTOCOL) continue;
    LspEntry& rec = entries[r];
    rec.LayeredProvider = Providers[l];
    int path_len = MAX_PATH - 1;
    int error = 0;
    int ret = api_->GetProviderPath(&rec.LayeredProvider.ProviderId, rec.ProviderPath, &path_len, &error);
    if (ret == SOCKET_ERROR) {
      DebugTrace("CVLLspSetup::CreateLspEntry WSCGetProviderPath ret:[%x] error:[%u]", static_cast<unsigned>(ret),
                 static_cast<unsigned>(error));
      return nullptr;
    }
    // A path that fills the buffer would have no terminator.
    rec.ProviderPath[MAX_PATH - 1] = 0;
    const DWORD id = rec.LayeredProvider.dwCatalogEntryId;
    unsigned m = 0;
    for (int i = 0; i < ProviderCount; ++i) m += IsFirstId(&Providers[i], id);
    DebugTrace("CVLLspSetup::CreateLspEntry dispatch index:[%d] name:[%.256ws] dum:[%x] count:[%u]", r,
               rec.LayeredProvider.szProtocol, Hex(rec.LayeredProvider.ProviderId), m);
    rec.LayeredEntries = static_cast<WSAPROTOCOL_INFOW*>(AllocZeroed(m * sizeof(WSAPROTOCOL_INFOW)));
    if (rec.LayeredEntries == nullptr) {
      DebugTrace("CVLLspSetup::CreateLspEntry heap alloc layered entries error:[%x]",
                 static_cast<unsigned>(GetLastError()));
      return nullptr;
    }
    rec.LayeredEntryCount = 0;
    for (int i = 0; i < ProviderCount && static_cast<unsigned>(rec.LayeredEntryCount) < m; ++i) {
      const WSAPROTOCOL_INFOW& e = Providers[i];
      if (!IsFirstId(&e, id)) continue;
      rec.LayeredEntries[rec.LayeredEntryCount] = e;
      if (e.ProtocolChain.ChainLen > rec.MaxChainLen) rec.MaxChainLen = e.ProtocolChain.ChainLen;
      if (rec.LayeredEntryCount == 0) {
        rec.LayeredGuids = static_cast<GUID*>(AllocZeroed(sizeof(GUID)));
        if (rec.LayeredGuids == nullptr) {
          DebugTrace("CVLLspSetup::CreateLspEntry heap alloc layered guids error:[%x]",
                     static_cast<unsigned>(GetLastError()));
          return nullptr;
        }
        rec.LayeredGuids[0] = e.ProviderId;
        rec.LayeredGuidCount = 1;
        DebugTrace("CVLLspSetup::CreateLspEntry add first layer count:[%d] guid:[%x] guidcount:[%d]", 0,
                   Hex(e.ProviderId), 1);
      } else {
        bool listed = false;
        for (int g = 0; g < rec.LayeredGuidCount && !listed; ++g) listed = IsSameGuid(rec.LayeredGuids[g], e.ProviderId);
        if (listed) {
          DebugTrace("CVLLspSetup::CreateLspEntry layer exists guid:[%x]", Hex(e.ProviderId));
        } else {
          GUID* longer = static_cast<GUID*>(AllocZeroed((rec.LayeredGuidCount + 1) * sizeof(GUID)));
          if (longer == nullptr) {
            DebugTrace("CVLLspSetup::CreateLspEntry heap alloc temp guid error:[%x]",
                       static_cast<unsigned>(GetLastError()));
            return nullptr;
          }
          memcpy(longer, rec.LayeredGuids, rec.LayeredGuidCount * sizeof(GUID));
          longer[rec.LayeredGuidCount] = e.ProviderId;
          FreeBlock(rec.LayeredGuids);
          rec.LayeredGuids = longer;
          ++rec.LayeredGuidCount;
          DebugTrace("CVLLspSetup::CreateLspEntry add layer count:[%d] guid:[%x] guidcount:[%d]",
                     rec.LayeredEntryCount, Hex(e.ProviderId), rec.LayeredGuidCount);
        }
      }
      ++rec.LayeredEntryCount;
    }
    rec.Order = 7;
    ++r;
  }
  const int count = r;

  // Phase 3: the base providers.
  const DWORD b = GetProviderCount(BASE_PROTOCOL);
  if (b == 0) return nullptr;
  void* base_alloc = AllocZeroed(b * sizeof(DWORD));
  ScopedHeapBlock base_block(RememberedHeap(), base_alloc);
  DWORD* base_ids = static_cast<DWORD*>(base_block.Get());
  if (base_ids == nullptr) {
    DebugTrace("CVLLspSetup::CreateLspEntry heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return nullptr;
  }
  DWORD base_count = 0;
  for (int i = 0; i < ProviderCount && base_count < b; ++i) {
    if (Providers[i].ProtocolChain.ChainLen != BASE_PROTOCOL) continue;
    base_ids[base_count++] = Providers[i].dwCatalogEntryId;
    DebugTrace("CVLLspSetup::CreateLspEntry add base list id:[%u]", static_cast<unsigned>(Providers[i].dwCatalogEntryId));
  }
  DebugTrace("CVLLspSetup::CreateLspEntry add base list count:[%u]", static_cast<unsigned>(base_count));

  // Phase 4: the order value.
  for (int p = 1; p <= 6; ++p) {
    for (int i = 0; i < count; ++i) {
      LspEntry& rec = entries[i];
      for (int e = 0; e < rec.LayeredEntryCount; ++e) {
        DWORD element = rec.LayeredEntries[e].ProtocolChain.ChainEntries[p];
        bool is_base = false;
        for (DWORD k = 0; k < base_count && !is_base; ++k) is_base = base_ids[k] == element;
        if (!is_base) continue;
        if (p < rec.Order) rec.Order = p;
        DebugTrace("CVLLspSetup::CreateLspEntry set index:[%d] entry:[%d] order:[%u]", i, e,
                   static_cast<unsigned>(rec.Order));
      }
    }
  }

  // Phase 5: exchange sort by Order, then by MaxChainLen within each order.
  for (int i = 0; i < count; ++i) {
    for (int j = i; j < count; ++j) {
      if (entries[i].Order <= entries[j].Order) continue;
      Swap(&entries[i], &entries[j]);
      DebugTrace("CVLLspSetup::CreateLspEntry change from:[%u][%x] to:[%u][%x]", static_cast<unsigned>(i),
                 RecordId(entries[i]), static_cast<unsigned>(j), RecordId(entries[j]));
    }
  }
  for (int p = 1; p <= 6; ++p) {
    int s = 0;
    while (s < count && entries[s].Order != p) ++s;
    if (s == count) continue;
    int e = s;
    while (e + 1 < count && entries[e + 1].Order == p) ++e;
    if (e == s) continue;
    for (int i = s; i <= e; ++i) {
      for (int j = i; j <= e; ++j) {
        if (entries[i].MaxChainLen <= entries[j].MaxChainLen) continue;
        Swap(&entries[i], &entries[j]);
        DebugTrace("CVLLspSetup::CreateLspEntry start-end from:[%u][%x] to:[%u][%x]", static_cast<unsigned>(i),
                   RecordId(entries[i]), static_cast<unsigned>(j), RecordId(entries[j]));
      }
    }
  }

  // Phase 6: the end.
  if (out_count != nullptr) *out_count = count;
  DebugTrace("CVLLspSetup::CreateLspEntry complate:[%x] count:[%d]",
             static_cast<unsigned>(reinterpret_cast<UINT_PTR>(entries)), count);
  return owner.Release();
}
