// Simulated Winsock 2: start-up and clean-up, and the service-provider
// catalogs with the calls that read and change them.
#include "simwin/machine_winsock.h"
#include "state.h"

#include <cstdio>
#include <cstring>

namespace sim {
namespace {

struct CatalogState {
  std::vector<ProviderEntry> entries;
  std::vector<GUID> fail_path;
  std::vector<GUID> fail_deinstall;
  std::vector<GUID> fail_install;
  std::vector<GUID> fail_update;
  bool fail_order = false;
  DWORD next_id = 1;
  bool registry_stale = false;  // changed since its registry copy was written
};

struct WinsockState {
  CatalogState native;
  CatalogState wow32;
  std::string catalog_key = "Protocol_Catalog9";  // below Parameters
  bool catalog_key_named = true;                  // Current_Protocol_Catalog written
  std::set<WORD> versions;
  int started = 0;
  std::vector<DeinstallCall> deinstalls;
  std::vector<CatalogCall> changes;
};

WinsockState& W() {
  static WinsockState* w = new WinsockState();
  return *w;
}

CatalogState& Cat(Catalog which) { return which == Catalog::Wow32 ? W().wow32 : W().native; }

// Windows keeps each catalog in the registry too: one key per entry, in
// catalog order, named by its position ("%012u" from 1), whose
// "PackedCatalogItem" holds the entry's own DLL path (narrow, MAX_PATH bytes)
// followed by its WSAPROTOCOL_INFOW (ReactOS ws2_32 dcatitem.c,
// WsTcEntryInitializeFromRegistry). The path is kept per entry, so entries of
// one GUID can hold different paths. 64-bit Windows keeps its native catalog
// under Catalog_Entries64 and the 32-bit one under Catalog_Entries. The
// catalog's key lies below Parameters under the name that Parameters' value
// Current_Protocol_Catalog gives (ReactOS ws2_32 dcatalog.c, WsTcOpen, which
// reads the value and opens or creates that key); Windows writes the value
// with the key, "Protocol_Catalog9".
const char* const kParametersKey[] = {"HKLM", "SYSTEM", "CurrentControlSet", "Services", "WinSock2", "Parameters"};

detail::RegNode* Subkey(detail::RegNode* node, const std::string& name) {
  auto& slot = node->subkeys[detail::Upper(name)];
  if (!slot) {
    slot = std::make_unique<detail::RegNode>();
    slot->name = name;
  }
  return slot.get();
}

// Written when the registry is next looked at, which few runs do.
void Mirror(Catalog which) {
  const bool windows_64 = detail::S().version.windows_64;
  if (which == Catalog::Wow32 && !windows_64) return;
  const std::string leaf = which == Catalog::Native && windows_64 ? "Catalog_Entries64" : "Catalog_Entries";
  detail::RegNode* node = detail::S().reg_roots[kParametersKey[0]].get();
  for (size_t i = 1; i < sizeof kParametersKey / sizeof kParametersKey[0]; ++i) node = Subkey(node, kParametersKey[i]);
  if (W().catalog_key_named) {
    detail::RegValue current;
    current.name = "Current_Protocol_Catalog";
    current.type = REG_SZ;
    current.data.assign(W().catalog_key.begin(), W().catalog_key.end());
    current.data.push_back(0);
    node->values["CURRENT_PROTOCOL_CATALOG"] = std::move(current);
  }
  node = Subkey(node, W().catalog_key);
  auto& entries_key = node->subkeys[detail::Upper(leaf)];
  entries_key = std::make_unique<detail::RegNode>();
  entries_key->name = leaf;
  const std::vector<ProviderEntry>& entries = Cat(which).entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    detail::RegValue item;
    item.name = "PackedCatalogItem";
    item.type = REG_BINARY;
    item.data.assign(MAX_PATH + sizeof(WSAPROTOCOL_INFOW), 0);
    const std::u16string& path = entries[i].path;
    for (size_t k = 0; k < path.size() && k + 1 < MAX_PATH; ++k)
      item.data[k] = static_cast<uint8_t>(path[k] < 0x80 ? path[k] : '?');
    WSAPROTOCOL_INFOW info = ToProtocolInfo(entries[i]);
    memcpy(item.data.data() + MAX_PATH, &info, sizeof info);
    auto key = std::make_unique<detail::RegNode>();
    key->name = detail::Format("%012u", static_cast<unsigned>(i + 1));
    key->values["PACKEDCATALOGITEM"] = std::move(item);
    entries_key->subkeys[key->name] = std::move(key);
  }
}

void Changed(Catalog which) { Cat(which).registry_stale = true; }

// The catalog that the ordinary functions reach: a 32-bit process on 64-bit
// Windows sees the 32-bit catalog.
Catalog Seen() {
  const VersionState& v = detail::S().version;
  return v.windows_64 && !v.process_64 ? Catalog::Wow32 : Catalog::Native;
}

bool Listed(const std::vector<GUID>& list, const GUID& g) {
  for (const GUID& x : list)
    if (SameGuid(x, g)) return true;
  return false;
}

ProviderEntry Base(DWORD id, const char* guid, const char16_t* name) {
  ProviderEntry e;
  e.id = id;
  e.guid = ParseGuid(guid);
  e.chain_len = 1;
  e.chain = {id};
  e.name = name;
  e.path = u"%SystemRoot%\\system32\\mswsock.dll";
  return e;
}

int Enum(const char* name, Catalog which, LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD length,
         LPINT error) {
  DWORD err = WSAEFAULT;
  if (detail::Enter(name, err, "%p,%p,%u", static_cast<void*>(protocols), static_cast<void*>(buffer),
                    length ? *length : 0)) {
    *error = static_cast<int>(err);
    return SOCKET_ERROR;
  }
  const std::vector<ProviderEntry>& entries = Cat(which).entries;
  DWORD needed = static_cast<DWORD>(entries.size() * sizeof(WSAPROTOCOL_INFOW));
  if (buffer == nullptr || *length < needed) {
    *length = needed;
    *error = WSAENOBUFS;
    detail::S().last_error = WSAENOBUFS;
    return SOCKET_ERROR;
  }
  for (size_t i = 0; i < entries.size(); ++i) buffer[i] = ToProtocolInfo(entries[i]);
  return static_cast<int>(entries.size());
}

// The path of the first entry of the GUID in catalog order: ws2_32 walks the
// catalog and stops at the first entry that carries it (ReactOS ws2_32
// WSCGetProviderPath with its ProviderEnumerationProc).
int GetPath(const char* name, Catalog which, LPGUID provider, WCHAR* path, LPINT length, LPINT error) {
  DWORD err = WSAEINVAL;
  std::string guid = provider ? GuidText(*provider) : "(null)";
  if (detail::Enter(name, err, "%s,%d", guid.c_str(), length ? *length : -1)) {
    *error = static_cast<int>(err);
    return SOCKET_ERROR;
  }
  CatalogState& c = Cat(which);
  if (provider == nullptr || Listed(c.fail_path, *provider)) {
    *error = WSAEINVAL;
    return SOCKET_ERROR;
  }
  for (const ProviderEntry& e : c.entries) {
    if (!SameGuid(e.guid, *provider)) continue;
    if (*length <= static_cast<int>(e.path.size())) {
      *error = WSAEFAULT;
      return SOCKET_ERROR;
    }
    for (size_t i = 0; i < e.path.size(); ++i) path[i] = e.path[i];
    path[e.path.size()] = 0;
    *length = static_cast<int>(e.path.size());
    return 0;
  }
  *error = WSAEINVAL;
  return SOCKET_ERROR;
}

int Deinstall(const char* name, Catalog which, LPGUID provider, LPINT error) {
  DWORD err = WSAEINVAL;
  std::string guid = provider ? GuidText(*provider) : "(null)";
  DeinstallCall call;
  call.catalog = which;
  if (provider != nullptr) call.guid = *provider;
  bool fail = detail::Enter(name, err, "%s", guid.c_str());
  CatalogState& c = Cat(which);
  size_t removed = 0;
  if (!fail && provider != nullptr && !Listed(c.fail_deinstall, *provider)) {
    std::vector<ProviderEntry> kept;
    for (const ProviderEntry& e : c.entries) {
      if (SameGuid(e.guid, *provider))
        ++removed;
      else
        kept.push_back(e);
    }
    c.entries = kept;
    if (removed != 0) Changed(which);
  }
  if (removed == 0) {
    call.result = SOCKET_ERROR;
    call.error = static_cast<int>(fail ? err : WSAEINVAL);
    *error = call.error;
  }
  W().deinstalls.push_back(call);
  CatalogCall change;
  change.catalog = which;
  change.call = "deinstall";
  change.guid = call.guid;
  change.result = call.result;
  change.error = call.error;
  W().changes.push_back(change);
  return call.result;
}

ProviderEntry FromInfo(const WSAPROTOCOL_INFOW& info, const GUID& guid, const WCHAR* path) {
  ProviderEntry e;
  e.guid = guid;
  e.chain_len = info.ProtocolChain.ChainLen;
  e.family = info.iAddressFamily;
  e.type = info.iSocketType;
  e.protocol = info.iProtocol;
  for (int i = 0; i < info.ProtocolChain.ChainLen && i < MAX_PROTOCOL_CHAIN; ++i)
    e.chain.push_back(info.ProtocolChain.ChainEntries[i]);
  for (int i = 0; i <= WSAPROTOCOL_LEN && info.szProtocol[i] != 0; ++i) e.name += static_cast<char16_t>(info.szProtocol[i]);
  for (int i = 0; path != nullptr && path[i] != 0; ++i) e.path += static_cast<char16_t>(path[i]);
  return e;
}

// WSCInstallProvider appends the entries under new catalog ids, in the order
// given; WSCUpdateProvider rewrites the GUID's entries in place (same ids,
// same positions) and wants exactly as many as are installed.
int Write(const char* name, Catalog which, bool update, LPGUID provider, const WCHAR* path,
          LPWSAPROTOCOL_INFOW infos, DWORD count, LPINT error) {
  DWORD err = WSAEINVAL;
  std::string guid = provider ? GuidText(*provider) : "(null)";
  CatalogCall call;
  call.catalog = which;
  call.call = update ? "update" : "install";
  if (provider != nullptr) call.guid = *provider;
  for (DWORD i = 0; infos != nullptr && provider != nullptr && i < count; ++i)
    call.entries.push_back(FromInfo(infos[i], *provider, path));
  bool fail = detail::Enter(name, err, "%s,%u", guid.c_str(), count);
  CatalogState& c = Cat(which);
  if (!fail && (provider == nullptr || path == nullptr || infos == nullptr || count == 0 ||
                Listed(update ? c.fail_update : c.fail_install, *provider)))
    fail = true;
  if (!fail && update) {
    std::vector<size_t> at;
    for (size_t i = 0; i < c.entries.size(); ++i)
      if (SameGuid(c.entries[i].guid, *provider)) at.push_back(i);
    if (at.size() != count) {
      fail = true;
    } else {
      for (size_t k = 0; k < at.size(); ++k) {
        DWORD id = c.entries[at[k]].id;
        c.entries[at[k]] = call.entries[k];
        c.entries[at[k]].id = id;
      }
      for (ProviderEntry& e : c.entries)
        if (SameGuid(e.guid, *provider)) e.path = call.entries[0].path;
    }
  } else if (!fail) {
    for (ProviderEntry e : call.entries) {
      e.id = c.next_id++;
      c.entries.push_back(e);
    }
  }
  if (fail) {
    call.result = SOCKET_ERROR;
    call.error = static_cast<int>(err);
    *error = call.error;
  } else {
    Changed(which);
  }
  W().changes.push_back(call);
  return call.result;
}

// WSCWriteProviderOrder wants every installed id exactly once and returns an
// error code rather than SOCKET_ERROR.
int WriteOrder(const char* name, Catalog which, LPDWORD ids, DWORD count) {
  DWORD err = WSAEINVAL;
  CatalogCall call;
  call.catalog = which;
  call.call = "order";
  for (DWORD i = 0; ids != nullptr && i < count; ++i) call.order.push_back(ids[i]);
  bool fail = detail::Enter(name, err, "%u", count);
  CatalogState& c = Cat(which);
  std::vector<ProviderEntry> ordered;
  if (!fail && (ids == nullptr || count != c.entries.size() || c.fail_order)) fail = true;
  for (DWORD i = 0; !fail && i < count; ++i) {
    size_t hits = 0;
    for (const ProviderEntry& e : c.entries)
      if (e.id == ids[i]) {
        ++hits;
        ordered.push_back(e);
      }
    for (DWORD j = 0; j < i; ++j)
      if (ids[j] == ids[i]) hits = 0;
    if (hits != 1) fail = true;
  }
  if (!fail) {
    c.entries = ordered;
    Changed(which);
  }
  call.result = fail ? static_cast<int>(err) : 0;
  W().changes.push_back(call);
  return call.result;
}

}  // namespace

GUID ParseGuid(const std::string& text) {
  GUID g{};
  unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
  if (sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2],
             &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
    return g;
  g.Data1 = d1;
  g.Data2 = static_cast<WORD>(d2);
  g.Data3 = static_cast<WORD>(d3);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(b[i]);
  return g;
}

std::string GuidText(const GUID& g) {
  char buf[64];
  snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
           g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof a) == 0; }

void SetCatalog(const std::vector<ProviderEntry>& entries, Catalog which) {
  CatalogState& c = Cat(which);
  c.entries = entries;
  for (const ProviderEntry& e : entries)
    if (e.id >= c.next_id) c.next_id = e.id + 1;
  Changed(which);
}
std::vector<ProviderEntry> CatalogEntries(Catalog which) { return Cat(which).entries; }

std::vector<ProviderEntry> BaseProviders() {
  return {
      Base(1001, "{E70F1AA0-AB8B-11CF-8CA3-00805F48A192}", u"MSAFD Tcpip [TCP/IP]"),
      Base(1002, "{E70F1AA0-AB8B-11CF-8CA3-00805F48A192}", u"MSAFD Tcpip [UDP/IP]"),
      Base(1003, "{E70F1AA0-AB8B-11CF-8CA3-00805F48A192}", u"MSAFD Tcpip [RAW/IP]"),
      Base(1004, "{F9EAB0C0-26D4-11D0-BBBF-00AA006C34E4}", u"MSAFD Tcpip [TCP/IPv6]"),
      Base(1005, "{F9EAB0C0-26D4-11D0-BBBF-00AA006C34E4}", u"MSAFD Tcpip [UDP/IPv6]"),
      Base(1006, "{F9EAB0C0-26D4-11D0-BBBF-00AA006C34E4}", u"MSAFD Tcpip [RAW/IPv6]"),
  };
}

WSAPROTOCOL_INFOW ToProtocolInfo(const ProviderEntry& e) {
  WSAPROTOCOL_INFOW info;
  memset(&info, 0, sizeof info);
  info.ProviderId = e.guid;
  info.dwCatalogEntryId = e.id;
  info.ProtocolChain.ChainLen = e.chain_len;
  for (size_t i = 0; i < e.chain.size() && i < MAX_PROTOCOL_CHAIN; ++i) info.ProtocolChain.ChainEntries[i] = e.chain[i];
  for (size_t i = 0; i < e.name.size() && i < WSAPROTOCOL_LEN + 1; ++i) info.szProtocol[i] = e.name[i];
  info.iVersion = 2;
  info.iAddressFamily = e.family;
  info.iSocketType = e.type;
  info.iProtocol = e.protocol;
  return info;
}

void FailProviderPath(const GUID& guid, Catalog which) { Cat(which).fail_path.push_back(guid); }
void FailDeinstall(const GUID& guid, Catalog which) { Cat(which).fail_deinstall.push_back(guid); }
std::vector<DeinstallCall> DeinstallCalls() { return W().deinstalls; }
void FailInstall(const GUID& guid, Catalog which) { Cat(which).fail_install.push_back(guid); }
void FailUpdate(const GUID& guid, Catalog which) { Cat(which).fail_update.push_back(guid); }
void FailWriteOrder(Catalog which) { Cat(which).fail_order = true; }
std::vector<CatalogCall> CatalogCalls() { return W().changes; }
void ClearCatalogCalls() {
  W().changes.clear();
  W().deinstalls.clear();
}
void AcceptWinsockVersions(const std::set<WORD>& versions) { W().versions = versions; }
void SetProtocolCatalogKey(const std::string& name, bool named_by_value) {
  W().catalog_key = name;
  W().catalog_key_named = named_by_value;
  Changed(Catalog::Native);
  Changed(Catalog::Wow32);
}
int WinsockStartedCount() { return W().started; }

namespace detail {
void SyncCatalogKeys() {
  for (Catalog which : {Catalog::Native, Catalog::Wow32}) {
    if (!Cat(which).registry_stale) continue;
    Cat(which).registry_stale = false;
    Mirror(which);
  }
}

void DropCatalogCopies() {
  Cat(Catalog::Native).registry_stale = false;
  Cat(Catalog::Wow32).registry_stale = false;
}

void ResetWinsock() {
  WinsockState& w = W();
  w = WinsockState{};
  SetCatalog(BaseProviders(), Catalog::Native);
  if (S().version.windows_64) SetCatalog(BaseProviders(), Catalog::Wow32);
  w.versions = {0x0001, 0x0101, 0x0002, 0x0102, 0x0202};
}
}  // namespace detail
}  // namespace sim

using namespace sim;

int WSAStartup(WORD version, LPWSADATA data) {
  DWORD err = WSAVERNOTSUPPORTED;
  if (detail::Enter("WSAStartup", err, "0x%04x", version)) return static_cast<int>(err);
  if (W().versions.count(version) == 0) return WSAVERNOTSUPPORTED;
  memset(data, 0, sizeof *data);
  data->wVersion = version;
  data->wHighVersion = 0x0202;
  ++W().started;
  return 0;
}

int WSACleanup(void) {
  DWORD err = WSANOTINITIALISED;
  bool fail = detail::Enter("WSACleanup", err, "");
  if (W().started == 0) {
    detail::S().last_error = WSANOTINITIALISED;
    return SOCKET_ERROR;
  }
  // Like the other calls that give something back, the start-up is released
  // even when the call is made to report a failure.
  --W().started;
  return fail ? SOCKET_ERROR : 0;
}

int WSCEnumProtocols(LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD length, LPINT error) {
  return Enum("WSCEnumProtocols", Seen(), protocols, buffer, length, error);
}
int WSCGetProviderPath(LPGUID provider, WCHAR* path, LPINT length, LPINT error) {
  return GetPath("WSCGetProviderPath", Seen(), provider, path, length, error);
}
int WSCDeinstallProvider(LPGUID provider, LPINT error) {
  return Deinstall("WSCDeinstallProvider", Seen(), provider, error);
}
int WSCEnumProtocols32(LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD length, LPINT error) {
  return Enum("WSCEnumProtocols32", Catalog::Wow32, protocols, buffer, length, error);
}
int WSCGetProviderPath32(LPGUID provider, WCHAR* path, LPINT length, LPINT error) {
  return GetPath("WSCGetProviderPath32", Catalog::Wow32, provider, path, length, error);
}
int WSCDeinstallProvider32(LPGUID provider, LPINT error) {
  return Deinstall("WSCDeinstallProvider32", Catalog::Wow32, provider, error);
}
int WSCInstallProvider(LPGUID provider, const WCHAR* path, LPWSAPROTOCOL_INFOW infos, DWORD count, LPINT error) {
  return Write("WSCInstallProvider", Seen(), false, provider, path, infos, count, error);
}
int WSCUpdateProvider(LPGUID provider, const WCHAR* path, LPWSAPROTOCOL_INFOW infos, DWORD count, LPINT error) {
  return Write("WSCUpdateProvider", Seen(), true, provider, path, infos, count, error);
}
int WSCUpdateProvider32(LPGUID provider, const WCHAR* path, LPWSAPROTOCOL_INFOW infos, DWORD count, LPINT error) {
  return Write("WSCUpdateProvider32", Catalog::Wow32, true, provider, path, infos, count, error);
}
int WSCWriteProviderOrder(LPDWORD ids, DWORD count) { return WriteOrder("WSCWriteProviderOrder", Seen(), ids, count); }
int WSCWriteProviderOrder32(LPDWORD ids, DWORD count) {
  return WriteOrder("WSCWriteProviderOrder32", Catalog::Wow32, ids, count);
}
