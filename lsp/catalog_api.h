// The catalog functions the LSP code calls, as a table: the ordinary ones by
// default, the *32 family for the 32-bit catalog of 64-bit Windows.
#pragma once

#include "common/owners.h"
#include "platform/win.h"

typedef int(WINAPI* EnumProtocolsFn)(LPINT, LPWSAPROTOCOL_INFOW, LPDWORD, LPINT);
typedef int(WINAPI* GetProviderPathFn)(LPGUID, WCHAR*, LPINT, LPINT);
typedef int(WINAPI* DeinstallProviderFn)(LPGUID, LPINT);
typedef int(WINAPI* InstallProviderFn)(LPGUID, const WCHAR*, LPWSAPROTOCOL_INFOW, DWORD, LPINT);
typedef int(WINAPI* UpdateProviderFn)(LPGUID, const WCHAR*, LPWSAPROTOCOL_INFOW, DWORD, LPINT);
typedef int(WINAPI* WriteProviderOrderFn)(LPDWORD, DWORD);

// The catalog's copy in the registry, below the key that
// HKLM\SYSTEM\CurrentControlSet\Services\WinSock2\Parameters names in its
// value Current_Protocol_Catalog (Protocol_Catalog9 where it names none):
// 64-bit Windows keeps its 64-bit catalog under Catalog_Entries64, every
// other catalog (the one of 32-bit Windows, the 32-bit one of 64-bit Windows)
// lives under Catalog_Entries.
extern const char kCatalogEntries[];
extern const char kCatalogEntries64[];

struct CatalogApi {
  EnumProtocolsFn EnumProtocols;
  GetProviderPathFn GetProviderPath;
  DeinstallProviderFn DeinstallProvider;
  // The writers that the repair of other providers' chains needs; null where
  // the system lacks them.
  InstallProviderFn InstallProvider;
  UpdateProviderFn UpdateProvider;
  WriteProviderOrderFn WriteProviderOrder;
  // Which registry copy holds the DLL path of each entry (kCatalogEntries or
  // kCatalogEntries64): the functions report one path per GUID only.
  const char* EntriesKey;
};

// Whether the functions that read and deinstall are all there (ws2_32.dll
// could be loaded and has them).
bool CanReadCatalog(const CatalogApi& api);

// The table, every function looked up by name in ws2_32.dll of the system
// folder, for as long as the object lives: the tool imports nothing from
// ws2_32, which is no KnownDLL on Windows 2000 and XP, so that a DLL of that
// name beside the tool is never loaded. WSCUpdateProvider came with Windows
// XP, WSCWriteProviderOrder lives in sporder.dll before Vista, and the *32
// family only on 64-bit Windows, which has no 32-bit-only install call.
class BoundCatalog {
 public:
  // wow32: the 32-bit catalog of 64-bit Windows, from a 64-bit process.
  explicit BoundCatalog(bool wow32);
  // The same, with the registry copy named (the native catalog of a 64-bit
  // process is the 64-bit one).
  BoundCatalog(bool wow32, const char* entries_key) : BoundCatalog(wow32) { api_.EntriesKey = entries_key; }
  BoundCatalog(const BoundCatalog&) = delete;
  BoundCatalog& operator=(const BoundCatalog&) = delete;
  const CatalogApi& Api() const { return api_; }
  // Whether the functions that read and deinstall are all there.
  bool CanRead() const;

 private:
  ScopedLibrary ws2_;
  ScopedLibrary sporder_;
  CatalogApi api_;
};
