// The simulated Winsock 2 service-provider catalogs: what tests plant, what
// they read back, and how catalog calls fail. Test equipment only.
#pragma once

#include "simwin/machine.h"

#include <set>
#include <string>
#include <vector>

namespace sim {

// Which catalog: the native one (the only one of 32-bit Windows, the 64-bit
// one of 64-bit Windows) or the 32-bit catalog of 64-bit Windows. A 32-bit
// process on 64-bit Windows sees the latter through WSCEnumProtocols; a 64-bit
// process reaches it through the *32 functions.
enum class Catalog { Native, Wow32 };

struct ProviderEntry {
  DWORD id = 0;
  GUID guid{};
  int chain_len = 1;                // 0 layered, 1 base, 2.. chain
  std::vector<DWORD> chain;         // first elements of ChainEntries; the rest are 0
  std::u16string name;              // szProtocol
  // The entry's DLL path. Windows keeps one per entry (in the catalog's
  // registry copy, which the simulated registry mirrors after every change);
  // WSCGetProviderPath reports the first entry's of the GUID, in catalog order.
  std::u16string path;
  int family = 0, type = 0, protocol = 0;  // iAddressFamily, iSocketType, iProtocol
};

struct DeinstallCall {
  Catalog catalog = Catalog::Native;
  GUID guid{};
  int result = 0;                   // 0 or SOCKET_ERROR
  int error = 0;
};

// Every call that changes a catalog (deinstall, install, update, order), in
// call order.
struct CatalogCall {
  Catalog catalog = Catalog::Native;
  std::string call;                 // "deinstall", "install", "update" or "order"
  GUID guid{};                      // not for "order"
  int result = 0;                   // 0, SOCKET_ERROR, or the error code "order" returns
  int error = 0;
  std::vector<ProviderEntry> entries;  // what "install" and "update" were given (ids 0)
  std::vector<DWORD> order;            // what "order" was given
};

GUID ParseGuid(const std::string& text);     // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::string GuidText(const GUID& guid);      // upper case, in braces
bool SameGuid(const GUID& a, const GUID& b);

// Replaces a catalog; the next catalog id an install hands out follows the
// highest one planted (Windows never hands out an id twice). Reset plants the base providers every Windows has.
void SetCatalog(const std::vector<ProviderEntry>& entries, Catalog which = Catalog::Native);
std::vector<ProviderEntry> CatalogEntries(Catalog which = Catalog::Native);
// The base providers of a fresh Windows (TCP, UDP and RAW over IPv4 and IPv6),
// with catalog ids from 1001.
std::vector<ProviderEntry> BaseProviders();
// The record as WSCEnumProtocols hands it out.
WSAPROTOCOL_INFOW ToProtocolInfo(const ProviderEntry& entry);

// WSCGetProviderPath fails with WSAEINVAL for this GUID.
void FailProviderPath(const GUID& guid, Catalog which = Catalog::Native);
// WSCDeinstallProvider fails with WSAEINVAL for this GUID and removes nothing.
void FailDeinstall(const GUID& guid, Catalog which = Catalog::Native);
// Every WSCDeinstallProvider call (of both families), in call order.
std::vector<DeinstallCall> DeinstallCalls();
// WSCInstallProvider, WSCUpdateProvider (and *32) fail with WSAEINVAL for
// this GUID and change nothing; WSCWriteProviderOrder returns WSAEINVAL.
void FailInstall(const GUID& guid, Catalog which = Catalog::Native);
void FailUpdate(const GUID& guid, Catalog which = Catalog::Native);
void FailWriteOrder(Catalog which = Catalog::Native);
std::vector<CatalogCall> CatalogCalls();
// Forgets the calls of both lists above.
void ClearCatalogCalls();

// Where the catalogs' registry copy lies below
// HKLM\SYSTEM\CurrentControlSet\Services\WinSock2\Parameters: the key
// name (Protocol_Catalog9 after Reset, as on every Windows), and whether
// Parameters' value Current_Protocol_Catalog names it (as Windows writes it).
void SetProtocolCatalogKey(const std::string& name, bool named_by_value = true);

// The Winsock versions WSAStartup accepts (all of 1.0 to 2.2 after Reset).
void AcceptWinsockVersions(const std::set<WORD>& versions);
// Successful WSAStartup calls not yet balanced by WSACleanup.
int WinsockStartedCount();

}  // namespace sim
