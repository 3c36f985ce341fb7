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

// Starts Winsock with the highest of 2.2, 2.1, 2.0, 1.1, 1.0 that the system
// accepts; silent on failure. The caller calls WSACleanup once in any case.
void StartWinsock();

bool IsSameGuid(const GUID& a, const GUID& b);

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
  CVLLspSetup();
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
  // Deinstalls the LSP whose layered entry carries target; 1 when the final
  // deinstall of the layered entry's GUID succeeded.
  int RemoveAllLayered(const GUID* target);

  WSAPROTOCOL_INFOW* Providers;
  int ProviderCount;

 private:
  // Objects live on the stack only. The virtual destructor still needs a
  // deallocation function; this one keeps the C++ library's out of the tool.
  static void operator delete(void*) {}

  const CatalogApi* api_;
};
