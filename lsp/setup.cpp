#include "lsp/setup.h"

#include "common/library.h"

const GUID ProductLspGuid = {0xC4F0A2B7, 0x58D1, 0x4E36, {0x9B, 0x2A, 0x71, 0xE5, 0xD3, 0xC0, 0x8F, 0x64}};

const char kCatalogEntries[] = "Catalog_Entries";
const char kCatalogEntries64[] = "Catalog_Entries64";

BoundCatalog::BoundCatalog(bool wow32) : ws2_(LoadSystemLibrary("ws2_32.dll")), api_() {
  HMODULE ws2 = ws2_.Get();
  api_.EntriesKey = kCatalogEntries;
  if (wow32) {
    api_.EnumProtocols = BindProc<EnumProtocolsFn>(ws2, "WSCEnumProtocols32");
    api_.GetProviderPath = BindProc<GetProviderPathFn>(ws2, "WSCGetProviderPath32");
    api_.DeinstallProvider = BindProc<DeinstallProviderFn>(ws2, "WSCDeinstallProvider32");
    api_.UpdateProvider = BindProc<UpdateProviderFn>(ws2, "WSCUpdateProvider32");
    api_.WriteProviderOrder = BindProc<WriteProviderOrderFn>(ws2, "WSCWriteProviderOrder32");
    return;
  }
  api_.EnumProtocols = BindProc<EnumProtocolsFn>(ws2, "WSCEnumProtocols");
  api_.GetProviderPath = BindProc<GetProviderPathFn>(ws2, "WSCGetProviderPath");
  api_.DeinstallProvider = BindProc<DeinstallProviderFn>(ws2, "WSCDeinstallProvider");
  api_.InstallProvider = BindProc<InstallProviderFn>(ws2, "WSCInstallProvider");
  api_.UpdateProvider = BindProc<UpdateProviderFn>(ws2, "WSCUpdateProvider");
  api_.WriteProviderOrder = BindProc<WriteProviderOrderFn>(ws2, "WSCWriteProviderOrder");
  if (api_.WriteProviderOrder == nullptr) {
    sporder_.Reset(LoadSystemLibrary("sporder.dll"));
    api_.WriteProviderOrder = BindProc<WriteProviderOrderFn>(sporder_.Get(), "WSCWriteProviderOrder");
  }
}

bool CanReadCatalog(const CatalogApi& api) {
  return api.EnumProtocols != nullptr && api.GetProviderPath != nullptr && api.DeinstallProvider != nullptr;
}

bool BoundCatalog::CanRead() const { return CanReadCatalog(api_); }

bool IsSameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof a) == 0; }

namespace {

bool IsProductDllName(const WCHAR* name) {
  static const char* const kDlls[] = {"ztxlsp.dll", "ztxlsp64.dll"};
  for (const char* dll : kDlls) {
    size_t i = 0;
    for (; dll[i] != '\0' && name[i] != 0; ++i) {
      WCHAR c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
      if (c != static_cast<WCHAR>(dll[i])) break;
    }
    if (dll[i] == '\0' && name[i] == 0) return true;
  }
  return false;
}

}  // namespace

bool NamesProductDll(const CatalogApi& api, const WSAPROTOCOL_INFOW& entry, bool unreadable_is_product) {
  WCHAR path[MAX_PATH + 1];
  memset(path, 0, sizeof path);
  int length = MAX_PATH;
  int error = 0;
  GUID guid = entry.ProviderId;
  if (api.GetProviderPath(&guid, path, &length, &error) != 0) return unreadable_is_product;
  const WCHAR* name = path;
  for (const WCHAR* p = path; *p != 0; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  return IsProductDllName(name);
}

namespace {
HANDLE g_BlockHeap = nullptr;
}  // namespace

HANDLE HeapForNewBlock() {
  HANDLE heap = GetProcessHeap();
  if (heap != nullptr) g_BlockHeap = heap;
  return heap;
}

HANDLE HeapForRelease() {
  HANDLE heap = GetProcessHeap();
  return heap != nullptr ? heap : g_BlockHeap;
}

HANDLE RememberedHeap() { return g_BlockHeap; }

namespace {

void FreeOnBlockHeap(void* block) {
  HANDLE heap = HeapForRelease();
  if (heap != nullptr && block != nullptr) HeapFree(heap, 0, block);
}

}  // namespace

void ReleaseLspEntries(LspEntry* entries, int count) {
  if (entries == nullptr) return;
  for (int i = 0; i < count; ++i) {
    FreeOnBlockHeap(entries[i].LayeredEntries);
    entries[i].LayeredEntries = nullptr;
    FreeOnBlockHeap(entries[i].LayeredGuids);
    entries[i].LayeredGuids = nullptr;
  }
  FreeOnBlockHeap(entries);
}

WinsockSession::WinsockSession() : ws2_(LoadSystemLibrary("ws2_32.dll")), cleanup_(nullptr) {
  typedef int(WINAPI * StartupFn)(WORD, LPWSADATA);
  auto startup = BindProc<StartupFn>(ws2_.Get(), "WSAStartup");
  cleanup_ = BindProc<CleanupFn>(ws2_.Get(), "WSACleanup");
  if (startup == nullptr || cleanup_ == nullptr) {
    cleanup_ = nullptr;
    return;
  }
  static const WORD kVersions[] = {0x0202, 0x0102, 0x0002, 0x0101, 0x0001};
  for (WORD version : kVersions) {
    WSADATA data;
    if (startup(version, &data) == 0) return;
    cleanup_();
  }
}

// Balances the start whatever it achieved: the start-up loop has already
// cleaned up after each refused version.
WinsockSession::~WinsockSession() {
  if (cleanup_ != nullptr) cleanup_();
}

CVLLspSetup::CVLLspSetup(const CatalogApi& api)
    : Providers(nullptr), ProviderCount(0), api_(&api), removed_ids_(nullptr), removed_count_(0),
      repair_failed_(false) {}
void CVLLspSetup::ForgetRemovedIds() {
  if (removed_ids_ != nullptr) {
    HANDLE heap = HeapForRelease();
    if (heap != nullptr) HeapFree(heap, 0, removed_ids_);
  }
  removed_ids_ = nullptr;
  removed_count_ = 0;
}

CVLLspSetup::~CVLLspSetup() {
  ForgetRemovedIds();
  ReleaseProviders();
  // Without a process heap handle ReleaseProviders keeps the block; the object
  // ends here, so free it on the heap it came from.
  if (Providers != nullptr && g_BlockHeap != nullptr) {
    HeapFree(g_BlockHeap, 0, Providers);
    Providers = nullptr;
  }
}

int CVLLspSetup::EnumerateProviders() {
  ReleaseProviders();
  ProviderCount = 0;
  DWORD length = 0;
  int error = 0;
  int ret = api_->EnumProtocols(nullptr, nullptr, &length, &error);
  if (ret == SOCKET_ERROR && error != WSAENOBUFS) {
    DebugTrace("CVLLspSetup::EnumerateProviders WSCEnumProtocols error:[%u]", static_cast<unsigned>(error));
    return 0;
  }
  if (!CreateProcessInfo(length)) return 0;
  ret = api_->EnumProtocols(nullptr, Providers, &length, &error);
  if (ret == SOCKET_ERROR) {
    DebugTrace("CVLLspSetup::EnumerateProviders WSCEnumProtocols ret:[%x] error:[%u]", static_cast<unsigned>(ret),
               static_cast<unsigned>(error));
    ReleaseProviders();
    return 0;
  }
  // Never believe a count the buffer cannot hold.
  DWORD fits = length / sizeof(WSAPROTOCOL_INFOW);
  ProviderCount = static_cast<DWORD>(ret) > fits ? static_cast<int>(fits) : ret;
  return 1;
}

void CVLLspSetup::ReleaseProviders() {
  if (Providers == nullptr) return;
  HANDLE heap = GetProcessHeap();
  if (heap == nullptr) {
    DebugTrace("CVLLspSetup::ReleaseProviders GetProcessHeap error:[%x]", static_cast<unsigned>(GetLastError()));
    return;
  }
  HeapFree(heap, 0, Providers);
  Providers = nullptr;
}

int CVLLspSetup::CreateProcessInfo(DWORD bytes) {
  HANDLE heap = HeapForNewBlock();
  if (heap == nullptr) return 0;
  ReleaseProviders();
  // A block that could not be released must not be overwritten and lost.
  if (Providers != nullptr) return 0;
  Providers = static_cast<WSAPROTOCOL_INFOW*>(HeapAlloc(heap, 0, bytes));
  if (Providers == nullptr) {
    DebugTrace("CVLLspSetup::CreateProcessInfo heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return 0;
  }
  return 1;
}

DWORD CVLLspSetup::GetProviderCount(int chain_len) {
  DWORD count = 0;
  if (Providers != nullptr)
    for (int i = 0; i < ProviderCount; ++i) count += Providers[i].ProtocolChain.ChainLen == chain_len;
  DebugTrace("CVLLspSetup::GetProviderCount complate type:[%d] count:[%u]", chain_len, static_cast<unsigned>(count));
  return count;
}

int CVLLspSetup::IsFirstId(const WSAPROTOCOL_INFOW* record, DWORD id) {
  DWORD first = record->ProtocolChain.ChainLen == LAYERED_PROTOCOL ? record->dwCatalogEntryId
                                                                   : record->ProtocolChain.ChainEntries[0];
  if (first != id) return 0;
  DebugTrace("CVLLspSetup::IsFirstId cat:[%d] chain:[%u] id:[%u]", static_cast<int>(record->dwCatalogEntryId),
             static_cast<unsigned>(record->ProtocolChain.ChainEntries[0]), static_cast<unsigned>(id));
  return 1;
}

DWORD CVLLspSetup::GetCatalogIdByGuid(const GUID* guid) {
  if (Providers == nullptr) return 0;
  for (int i = 0; i < ProviderCount; ++i)
    if (IsSameGuid(Providers[i].ProviderId, *guid)) return Providers[i].dwCatalogEntryId;
  return 0;
}

WSAPROTOCOL_INFOW* CVLLspSetup::CreateLayeredEntriesByGuid(const WSAPROTOCOL_INFOW* entries, int count,
                                                           const GUID* guid, int* out_count) {
  DebugTrace("CVLLspSetup::CreateLayeredEntriesByGuid entry:[%d] guid:[%x]", count, static_cast<unsigned>(guid->Data1));
  int matches = 0;
  for (int i = 0; i < count; ++i) matches += IsSameGuid(entries[i].ProviderId, *guid);
  DebugTrace("CVLLspSetup::CreateLayeredEntriesByGuid entry:[%d] guid:[%x] count:[%d]", count,
             static_cast<unsigned>(guid->Data1), matches);
  HANDLE heap = HeapForNewBlock();
  WSAPROTOCOL_INFOW* block = nullptr;
  if (heap != nullptr)
    block = static_cast<WSAPROTOCOL_INFOW*>(
        HeapAlloc(heap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(matches) * sizeof(WSAPROTOCOL_INFOW)));
  if (block == nullptr) {
    DebugTrace("CVLLspSetup::CreateLayeredEntriesByGuid heap alloc error:[%x]", static_cast<unsigned>(GetLastError()));
    return nullptr;
  }
  int n = 0;
  for (int i = 0; i < count; ++i)
    if (IsSameGuid(entries[i].ProviderId, *guid)) block[n++] = entries[i];
  if (matches > 0) *out_count = matches;
  DebugTrace("CVLLspSetup::CreateLayeredEntriesByGuid complete:[%x]",
             static_cast<unsigned>(reinterpret_cast<UINT_PTR>(block)));
  return block;
}

void CVLLspSetup::ReleaseLayeredEntries(WSAPROTOCOL_INFOW* entries) {
  HANDLE heap = HeapForRelease();
  if (heap != nullptr && entries != nullptr) HeapFree(heap, 0, entries);
}
