// The Winsock catalog snapshot (CVLLspSetup), the layered-chain model built
// from it, and the removal of one LSP's catalog entries. Every block comes
// from the process heap; every event is traced through DebugTrace.
#pragma once

#include "lsp/catalog_api.h"
#include "lsp/trace.h"
#include "platform/win.h"

// The provider GUID of the product's layered entry.
extern const GUID ProductLspGuid;

// One layered catalog entry with every catalog entry whose chain starts at it.
struct LspEntry {
  WCHAR ProviderPath[MAX_PATH];
  WSAPROTOCOL_INFOW LayeredProvider;
  WSAPROTOCOL_INFOW* LayeredEntries;  // process heap, owned by the record
  int LayeredEntryCount;
  GUID* LayeredGuids;                 // process heap, owned by the record
  int LayeredGuidCount;
  int MaxChainLen;
  int Order;                          // 1..6: nearest chain position of a base provider; 7: none
};

// Frees the records' arrays and the array itself; null is allowed, and so are
// zero-filled records that were never filled.
void ReleaseLspEntries(LspEntry* entries, int count);

// Owns the record array until it is handed to the caller.
class ScopedLspEntries {
 public:
  ScopedLspEntries(LspEntry* entries, int count) : entries_(entries), count_(count) {}
  ~ScopedLspEntries() { ReleaseLspEntries(entries_, count_); }
  ScopedLspEntries(const ScopedLspEntries&) = delete;
  ScopedLspEntries& operator=(const ScopedLspEntries&) = delete;
  LspEntry* Release() {
    LspEntry* e = entries_;
    entries_ = nullptr;
    return e;
  }

 private:
  LspEntry* entries_;
  int count_;
};

// Winsock for as long as the object lives: ws2_32.dll loaded from the system
// folder (a DLL of that name beside the tool must never run), started with the
// highest of 2.2, 2.1, 2.0, 1.1, 1.0 that the system accepts (silent on
// failure), and cleaned up once at the end whatever the start achieved.
class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

 private:
  typedef int(WINAPI* CleanupFn)(void);
  ScopedLibrary ws2_;
  CleanupFn cleanup_;
};

bool IsSameGuid(const GUID& a, const GUID& b);

// Whether the entry's provider DLL is "ztxlsp.dll" or "ztxlsp64.dll", by
// name in any folder; a path that cannot be read counts as the product's
// when unreadable_is_product says so.
bool NamesProductDll(const CatalogApi& api, const WSAPROTOCOL_INFOW& entry, bool unreadable_is_product);

// Whether every entry of the GUID holds one DLL path, by the catalog's
// registry copy (the functions report one path per GUID): kPathsAgree when
// the copy lists count entries of the GUID with one path, kPathsDiffer when
// two of them differ, kPathsUnread when the copy cannot be read or does not
// list count of them.
enum { kPathsUnread = -1, kPathsDiffer = 0, kPathsAgree = 1 };
int GuidPathsAgree(const CatalogApi& api, const GUID& guid, int count);

// The process heap for a new block (null when the system does not hand it
// out). The heap is remembered: it stays the same for the life of the process.
HANDLE HeapForNewBlock();
// The heap a block of this subsystem is freed on: the process heap, or the
// remembered one when the system does not hand it out, so that a block is
// never lost for want of a heap handle.
HANDLE HeapForRelease();
// The remembered process heap, without asking the system; null before the
// first block.
HANDLE RememberedHeap();

class CVLLspSetup {
 public:
  // Works on the catalog that the table's functions reach.
  explicit CVLLspSetup(const CatalogApi& api);
  virtual ~CVLLspSetup();
  CVLLspSetup(const CVLLspSetup&) = delete;
  CVLLspSetup& operator=(const CVLLspSetup&) = delete;

  // Replaces the snapshot with a fresh one; 1 on success.
  int EnumerateProviders();
  void ReleaseProviders();
  // Allocates the snapshot buffer (not zero-filled); 1 on success.
  int CreateProcessInfo(DWORD bytes);
  // Snapshot records with this ProtocolChain.ChainLen.
  DWORD GetProviderCount(int chain_len);
  // 1 when the record's chain begins with id (a layered record is its own first entry).
  int IsFirstId(const WSAPROTOCOL_INFOW* record, DWORD id);
  // Catalog id of the first snapshot record carrying the GUID, 0 when none does.
  DWORD GetCatalogIdByGuid(const GUID* guid);
  // Copies of the records that carry the GUID (an empty block when none does;
  // out_count is then left alone); null on failure.
  WSAPROTOCOL_INFOW* CreateLayeredEntriesByGuid(const WSAPROTOCOL_INFOW* entries, int count,
                                                const GUID* guid, int* out_count);
  void ReleaseLayeredEntries(WSAPROTOCOL_INFOW* entries);
  // One record per layered entry, ordered by Order, then MaxChainLen within
  // orders 1..6; null on failure (nothing partial survives).
  LspEntry* CreateLspEntry(int* out_count);
  // Deinstalls every LSP whose layered entry carries target, and takes their
  // layered entries out of other providers' chains (planned from the one
  // snapshot before anything changes); 1 when the final deinstall of every
  // handled record's layered GUID succeeded.
  int RemoveAllLayered(const GUID* target);
  // After RemoveAllLayered, a fresh look at the catalog: 1 when the repair
  // went through, no entry carries target or names the product's DLLs, and
  // no chain names an entry that the removal took away.
  int IsCatalogWhole(const GUID* target);

  WSAPROTOCOL_INFOW* Providers;
  int ProviderCount;

 private:
  // Objects live on the stack only. The virtual destructor still needs a
  // deallocation function; this one keeps the C++ library's out of the tool.
  static void operator delete(void*) {}

  // Takes the product's layered entries out of the chains of other
  // providers and removes the product's records; false when a call failed or
  // the repair could not be planned (nothing is changed then).
  bool RemoveAndRepair(LspEntry* entries, int count, const GUID& target, int* result);
  // The deinstalls of one record, as the trace has always shown them; 1 when
  // the final deinstall succeeded, -1 when the record was abandoned.
  int RemoveRecord(LspEntry* entries, int index, const GUID& target);
  // Plans the repair from the snapshot (nothing changes); false when the
  // route cannot repair the catalog.
  bool PlanRepair(void* plan, const LspEntry* entries, int count, const GUID& target);
  // Writes the repair of one GUID: its update, or its install under new ids,
  // which are then read back.
  bool WriteRepair(void* plan, int first);
  // Writes the catalog order back after installs appended entries at its
  // end: the snapshot's order, each reinstalled entry in its old place.
  bool RestoreOrder(const void* plan);
  void ForgetRemovedIds();
  // Whether another provider's entry rests on the product's records: a chain
  // naming an entry that goes, or an entry under a GUID that goes.
  bool NeedsRepair(const LspEntry* entries, int count, const GUID& target) const;
  // Keeps the snapshot ids that the records' deinstalls take away.
  bool NoteRemovedIds(const LspEntry* entries, int count, const GUID& target);

  const CatalogApi* api_;
  // Catalog ids that the last removal took away (process heap), and whether
  // its repair failed.
  DWORD* removed_ids_;
  int removed_count_;
  bool repair_failed_;
};

// The removal of the product's LSP from the catalog the table reaches, with
// the repair of other providers' chains; 1 when the catalog is left whole and
// free of the product. Winsock must be started.
int RemoveProductFromCatalog(const CatalogApi& api);
