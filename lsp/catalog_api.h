// The catalog functions the LSP code calls, as a table: the ordinary ones by
// default, the *32 family for the 32-bit catalog of 64-bit Windows.
#pragma once

#include "platform/win.h"

typedef int(WINAPI* EnumProtocolsFn)(LPINT, LPWSAPROTOCOL_INFOW, LPDWORD, LPINT);
typedef int(WINAPI* GetProviderPathFn)(LPGUID, WCHAR*, LPINT, LPINT);
typedef int(WINAPI* DeinstallProviderFn)(LPGUID, LPINT);

struct CatalogApi {
  EnumProtocolsFn EnumProtocols;
  GetProviderPathFn GetProviderPath;
  DeinstallProviderFn DeinstallProvider;
};

// WSCEnumProtocols, WSCGetProviderPath and WSCDeinstallProvider.
extern const CatalogApi kNativeCatalog;
