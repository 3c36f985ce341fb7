// lspreplay CATALOG.json [--windows 98|me|2000|xp|vista|7] [--left FILE]
//
// Plants the catalog in the simulated 32-bit Windows named (XP when none is),
// with ztxlsp.dll in its Windows folder, and runs the tool's LSP step there:
// the removal of every record of the product, the repair of other providers'
// chains by the route that Windows offers, and the DLL deletion. Prints the
// debug trace (without line ends), one line per call that changed the
// catalog, and last the step's console line in UTF-8. --left writes the
// catalog left after the run in the input format. The exit code is 0 when
// the input could be read, 2 when not (with the reason on standard error).
//
// The input: {"entries": [{"id", "guid", "chain_len", "chain", "name",
// "path"}, ...]} with optional "family", "type", "protocol" per entry and
// optional lists "fail_path", "fail_deinstall", "fail_update", "fail_install"
// of GUIDs whose calls the simulated Windows refuses.
#include "files/lsp_removal.h"
#include "lsp/setup.h"
#include "simwin/machine_winsock.h"

#include <iconv.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

struct BadInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// UTF-8 (valid: the JSON reader checked it) to UTF-16, and back.
std::u16string Utf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    unsigned cp = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
    else if (cp >= 0xD800 && cp < 0xE000)
      cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

const Json& Field(const Json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end()) throw BadInput(std::string("missing field \"") + name + "\"");
  return *it;
}

DWORD Uint(const Json& v, const std::string& what) {
  if (!v.is_number_unsigned() || v.get<unsigned long long>() > 0xFFFFFFFFull)
    throw BadInput(what + " is not a 32-bit unsigned integer");
  return static_cast<DWORD>(v.get<unsigned long long>());
}

int Int(const Json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end()) return 0;
  if (!it->is_number_integer() || it->get<long long>() < INT32_MIN || it->get<long long>() > INT32_MAX)
    throw BadInput(std::string("field \"") + name + "\" is not a 32-bit integer");
  return static_cast<int>(it->get<long long>());
}

std::string Str(const Json& v, const std::string& what) {
  if (!v.is_string()) throw BadInput(what + " is not a string");
  return v.get<std::string>();
}

GUID ParseGuidStrict(const std::string& text) {
  GUID g = sim::ParseGuid(text);
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (text.size() != 38 || sim::GuidText(g) != upper) throw BadInput("bad GUID \"" + text + "\"");
  return g;
}

void Load(const Json& doc) {
  if (!doc.is_object()) throw BadInput("the document is not an object");
  const Json& list = Field(doc, "entries");
  if (!list.is_array()) throw BadInput("field \"entries\" is not an array");
  std::vector<sim::ProviderEntry> entries;
  for (const Json& j : list) {
    if (!j.is_object()) throw BadInput("an entry is not an object");
    sim::ProviderEntry e;
    e.id = Uint(Field(j, "id"), "id");
    e.guid = ParseGuidStrict(Str(Field(j, "guid"), "guid"));
    DWORD len = Uint(Field(j, "chain_len"), "chain_len");
    const Json& chain = Field(j, "chain");
    if (!chain.is_array()) throw BadInput("chain is not an array");
    if (len > MAX_PROTOCOL_CHAIN || chain.size() > MAX_PROTOCOL_CHAIN) throw BadInput("chain longer than 7");
    if (chain.size() != len) throw BadInput("chain does not hold chain_len elements");
    e.chain_len = static_cast<int>(len);
    for (const Json& c : chain) e.chain.push_back(Uint(c, "chain element"));
    e.name = Utf16(Str(Field(j, "name"), "name"));
    if (e.name.size() > WSAPROTOCOL_LEN) throw BadInput("name longer than 255 characters");
    e.path = Utf16(Str(Field(j, "path"), "path"));
    if (e.path.size() >= MAX_PATH) throw BadInput("path longer than 259 characters");
    e.family = Int(j, "family");
    e.type = Int(j, "type");
    e.protocol = Int(j, "protocol");
    entries.push_back(e);
  }
  sim::SetCatalog(entries);
  for (const char* name : {"fail_path", "fail_deinstall", "fail_update", "fail_install"}) {
    auto it = doc.find(name);
    if (it == doc.end()) continue;
    if (!it->is_array()) throw BadInput(std::string("field \"") + name + "\" is not an array");
    for (const Json& g : *it) {
      GUID guid = ParseGuidStrict(Str(g, std::string(name) + " element"));
      if (name[5] == 'p') sim::FailProviderPath(guid);
      else if (name[5] == 'd') sim::FailDeinstall(guid);
      else if (name[5] == 'u') sim::FailUpdate(guid);
      else sim::FailInstall(guid);
    }
  }
}

std::string Chains(const std::vector<sim::ProviderEntry>& entries) {
  std::string out;
  for (const sim::ProviderEntry& e : entries) {
    out += " [";
    for (size_t i = 0; i < e.chain.size(); ++i) out += (i ? " " : "") + std::to_string(e.chain[i]);
    out += "]";
  }
  return out;
}

bool WriteLeft(const char* file) {
  std::ofstream out(file, std::ios::binary);
  out << "{\"entries\": [";
  std::vector<sim::ProviderEntry> left = sim::CatalogEntries();
  for (size_t i = 0; i < left.size(); ++i) {
    const sim::ProviderEntry& e = left[i];
    Json j = {{"id", e.id}, {"guid", sim::GuidText(e.guid)}, {"chain_len", e.chain_len}, {"chain", e.chain},
              {"name", Utf8(e.name)}, {"path", Utf8(e.path)}};
    if (e.family != 0 || e.type != 0 || e.protocol != 0) {
      j["family"] = e.family;
      j["type"] = e.type;
      j["protocol"] = e.protocol;
    }
    out << (i ? ",\n  " : "\n  ") << j.dump(-1, ' ', false);
  }
  out << "\n]}\n";
  return static_cast<bool>(out.flush());
}

// The last console line of the step, from code page 932 to UTF-8.
std::string ConsoleLine(const std::string& cp932) {
  std::string line = cp932;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  size_t start = line.find_last_of('\n');
  line = line.substr(start == std::string::npos ? 0 : start + 1);
  line.erase(0, line.find_first_not_of('.'));
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return line;
  std::string out(line.size() * 3 + 1, '\0');
  char* in = &line[0];
  size_t in_left = line.size();
  char* to = &out[0];
  size_t out_left = out.size();
  size_t done = iconv(cd, &in, &in_left, &to, &out_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) return line;
  out.resize(out.size() - out_left);
  return out;
}

struct Options {
  const char* catalog = nullptr;
  const char* left = nullptr;
  sim::Windows windows = sim::Windows::WinXP;
};

bool ParseArgs(int argc, char** argv, Options* o) {
  static const struct {
    const char* name;
    sim::Windows kind;
  } kWindows[] = {{"98", sim::Windows::Win98},  {"me", sim::Windows::WinMe},    {"2000", sim::Windows::Win2000},
                  {"xp", sim::Windows::WinXP}, {"vista", sim::Windows::Vista}, {"7", sim::Windows::Win7}};
  bool windows_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--left" || a == "--windows") {
      if (i + 1 == argc) return false;
      const char* value = argv[++i];
      if (a == "--left") {
        if (o->left != nullptr) return false;
        o->left = value;
        continue;
      }
      if (windows_given) return false;
      windows_given = true;
      bool known = false;
      for (const auto& w : kWindows)
        if (strcmp(w.name, value) == 0) o->windows = w.kind, known = true;
      if (!known) return false;
    } else if (a.rfind("--", 0) == 0 || o->catalog != nullptr) {
      return false;
    } else {
      o->catalog = argv[i];
    }
  }
  return o->catalog != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) {
    fprintf(stderr, "usage: lspreplay CATALOG.json [--windows 98|me|2000|xp|vista|7] [--left FILE]\n");
    return 2;
  }
  sim::Reset(o.windows);
  try {
    std::ifstream in(o.catalog, std::ios::binary);
    if (!in) throw BadInput("cannot read the file");
    std::stringstream text;
    text << in.rdbuf();
    Load(Json::parse(text.str()));
  } catch (const nlohmann::json::exception& e) {
    fprintf(stderr, "lspreplay: %s: malformed JSON: %s\n", o.catalog, e.what());
    return 2;
  } catch (const BadInput& e) {
    fprintf(stderr, "lspreplay: %s: %s\n", o.catalog, e.what());
    return 2;
  }
  // The step prints its line only when there is a DLL to delete.
  char windows_dir[MAX_PATH];
  UINT length = GetWindowsDirectoryA(windows_dir, sizeof windows_dir);
  if (length == 0 || length >= sizeof windows_dir) return 2;
  sim::MkFile(std::string(windows_dir) + "\\ztxlsp.dll");
  sim::ClearDebug();
  std::string console = sim::RunWithConsole("", [] { RemoveProductLsp(1); });
  for (std::string line : sim::DebugLines()) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
    printf("%s\n", line.c_str());
  }
  for (const sim::CatalogCall& c : sim::CatalogCalls()) {
    if (c.call == "order") {
      std::string ids;
      for (DWORD id : c.order) ids += " " + std::to_string(id);
      printf("order %d%s\n", c.result, ids.c_str());
      continue;
    }
    printf("%s %s %d %d%s\n", c.call.c_str(), sim::GuidText(c.guid).c_str(), c.result == 0 ? 0 : -1,
           c.result == 0 ? 0 : c.error, Chains(c.entries).c_str());
  }
  printf("%s\n", ConsoleLine(console).c_str());
  if (o.left != nullptr && !WriteLeft(o.left)) {
    fprintf(stderr, "lspreplay: cannot write %s\n", o.left);
    return 2;
  }
  return 0;
}
