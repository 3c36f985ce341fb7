// Catalog builders and readers shared by the LSP tests.
#pragma once

#include "lsp/setup.h"
#include "simwin/machine_winsock.h"

#include <string>
#include <vector>

namespace lsptest {

// The catalog through the readers called directly, as a table.
inline const CatalogApi kDirectCatalog = {&WSCEnumProtocols, &WSCGetProviderPath, &WSCDeinstallProvider,
                                          nullptr, nullptr, nullptr, kCatalogEntries};

inline const char* const kMsTcp = "{E70F1AA0-AB8B-11CF-8CA3-00805F48A192}";
inline const char* const kProduct = "{C4F0A2B7-58D1-4E36-9B2A-71E5D3C08F64}";
inline const char* const kProductChains = "{5A3E9D10-2B44-4C1F-8E77-0D9A6B21C3F5}";
inline const char* const kOtherLsp = "{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}";

// The DLL an LSP's entries name: the product's for the product's GUIDs.
inline std::u16string LspPath(const char* guid) {
  return std::string(guid) == kOtherLsp ? u"%SystemRoot%\\system32\\otherlsp.dll" : u"%SystemRoot%\\ztxlsp.dll";
}

inline sim::ProviderEntry Entry(DWORD id, const char* guid, int chain_len, std::vector<DWORD> chain,
                                const std::u16string& name, const std::u16string& path = u"C:\\x.dll") {
  sim::ProviderEntry e;
  e.id = id;
  e.guid = sim::ParseGuid(guid);
  e.chain_len = chain_len;
  e.chain = std::move(chain);
  e.name = name;
  e.path = path;
  return e;
}
inline sim::ProviderEntry Base(DWORD id, const std::u16string& name = u"MSAFD Tcpip [TCP/IP]") {
  return Entry(id, kMsTcp, 1, {id}, name, u"%SystemRoot%\\system32\\mswsock.dll");
}
inline sim::ProviderEntry Layered(DWORD id, const char* guid, const std::u16string& name = u"ZTX Layered") {
  return Entry(id, guid, 0, {}, name, LspPath(guid));
}
inline sim::ProviderEntry Chain(DWORD id, const char* guid, std::vector<DWORD> chain,
                                const std::u16string& name = u"ZTX over TCP") {
  int len = static_cast<int>(chain.size());
  return Entry(id, guid, len, std::move(chain), name, LspPath(guid));
}

inline std::vector<std::string> GuidsOf(const std::vector<sim::DeinstallCall>& calls) {
  std::vector<std::string> r;
  for (const auto& c : calls) r.push_back(sim::GuidText(c.guid));
  return r;
}

inline std::vector<std::string> DebugWithout(const std::string& prefix) {
  std::vector<std::string> r;
  for (const std::string& l : sim::DebugLines())
    if (l.compare(0, prefix.size(), prefix) != 0) r.push_back(l);
  return r;
}

// The debug trace; block addresses differ from run to run and read "*".
inline std::vector<std::string> Trace() {
  std::vector<std::string> r;
  for (std::string l : sim::DebugLines()) {
    for (const char* key : {"complete:[", "complate:["}) {
      size_t at = l.find(key);
      if (at != std::string::npos) l.replace(at + 10, l.find(']', at) - at - 10, "*");
    }
    r.push_back(l);
  }
  return r;
}

// Owns an LspEntry array in a test.
struct Records {
  LspEntry* entries = nullptr;
  int count = -1;
  ~Records() { ReleaseLspEntries(entries, count); }
};

}  // namespace lsptest
