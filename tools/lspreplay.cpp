// lspreplay CATALOG.json [--left FILE]: plants the catalog in the simulated
// Windows XP, runs the product's LSP removal as the clean-up step does (every
// record of the product, the repair of other providers' chains), and prints
// the debug trace (without line ends) and one line per call that changed the
// catalog. --left writes the catalog left after the run in the input format.
#include "lsp/setup.h"
#include "simwin/machine_winsock.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Characters of the Basic Multilingual Plane only: catalog names are UTF-16
// without surrogate pairs.
void AppendUtf8(std::string* out, unsigned cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;
};

struct BadInput {
  std::string what;
};

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}
  Json Document() {
    Json v = Value(0);
    Space();
    if (at_ != s_.size()) Fail("trailing characters");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) { throw BadInput{what + " at offset " + std::to_string(at_)}; }
  void Space() {
    while (at_ < s_.size() && isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
  }
  bool Eat(char c) {
    Space();
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  Json Value(int depth) {
    if (depth > 32) Fail("nesting too deep");
    Space();
    if (at_ >= s_.size()) Fail("unexpected end");
    Json v;
    char c = s_[at_];
    if (c == '{') {
      ++at_;
      v.kind = Json::Object;
      if (Eat('}')) return v;
      do {
        Space();
        std::string key = Str();
        if (!Eat(':')) Fail("':' expected");
        v.fields[key] = Value(depth + 1);
      } while (Eat(','));
      if (!Eat('}')) Fail("'}' expected");
    } else if (c == '[') {
      ++at_;
      v.kind = Json::Array;
      if (Eat(']')) return v;
      do v.items.push_back(Value(depth + 1));
      while (Eat(','));
      if (!Eat(']')) Fail("']' expected");
    } else if (c == '"') {
      v.kind = Json::String;
      v.text = Str();
    } else if (c == '-' || isdigit(static_cast<unsigned char>(c))) {
      size_t start = at_;
      ++at_;
      while (at_ < s_.size() && (isdigit(static_cast<unsigned char>(s_[at_])) || strchr(".eE+-", s_[at_]))) ++at_;
      v.kind = Json::Number;
      try {
        size_t used = 0;
        v.number = std::stod(s_.substr(start, at_ - start), &used);
        if (used != at_ - start) Fail("bad number");
      } catch (const std::logic_error&) {
        Fail("bad number");
      }
    } else if (s_.compare(at_, 4, "true") == 0 || s_.compare(at_, 5, "false") == 0) {
      v.kind = Json::Bool;
      v.number = s_[at_] == 't';
      at_ += s_[at_] == 't' ? 4 : 5;
    } else if (s_.compare(at_, 4, "null") == 0) {
      at_ += 4;
    } else {
      Fail("unexpected character");
    }
    return v;
  }
  // A string; \uXXXX escapes of the BMP become UTF-8.
  std::string Str() {
    if (at_ >= s_.size() || s_[at_] != '"') Fail("string expected");
    ++at_;
    std::string out;
    while (true) {
      if (at_ >= s_.size()) Fail("unterminated string");
      char c = s_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) Fail("unterminated string");
      char e = s_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (at_ + 4 > s_.size()) Fail("bad \\u escape");
          unsigned cp = 0;
          for (int i = 0; i < 4; ++i) {
            char h = s_[at_++];
            if (!isxdigit(static_cast<unsigned char>(h))) Fail("bad \\u escape");
            cp = cp * 16 + static_cast<unsigned>(isdigit(static_cast<unsigned char>(h)) ? h - '0' : (tolower(h) - 'a' + 10));
          }
          AppendUtf8(&out, cp);
          break;
        }
        default: Fail("bad escape");
      }
    }
  }
  const std::string& s_;
  size_t at_ = 0;
};

const Json& Field(const Json& obj, const char* name, Json::Kind kind) {
  auto it = obj.fields.find(name);
  if (it == obj.fields.end()) throw BadInput{std::string("missing field \"") + name + "\""};
  if (it->second.kind != kind) throw BadInput{std::string("field \"") + name + "\" has the wrong type"};
  return it->second;
}

DWORD Uint(const Json& v, const char* what) {
  if (v.kind != Json::Number || v.number < 0 || v.number > 4294967295.0 || v.number != static_cast<double>(static_cast<DWORD>(v.number)))
    throw BadInput{std::string(what) + " is not a 32-bit unsigned integer"};
  return static_cast<DWORD>(v.number);
}

GUID ParseGuidStrict(const std::string& text) {
  GUID g = sim::ParseGuid(text);
  if (text.size() != 38 || sim::GuidText(g) != [&] {
        std::string u = text;
        for (char& c : u) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return u;
      }())
    throw BadInput{"bad GUID \"" + text + "\""};
  return g;
}

// UTF-8 to UTF-16 (BMP only; anything else becomes '?').
std::u16string Wide(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    unsigned cp = '?';
    size_t n = 1;
    if (c < 0x80) cp = c;
    else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3F), n = 2;
    else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3F), n = 3;
    else if ((c & 0xF8) == 0xF0) n = 4;
    out += static_cast<char16_t>(cp);
    i += n;
  }
  return out;
}

void Load(const Json& doc) {
  if (doc.kind != Json::Object) throw BadInput{"the document is not an object"};
  std::vector<sim::ProviderEntry> entries;
  for (const Json& j : Field(doc, "entries", Json::Array).items) {
    if (j.kind != Json::Object) throw BadInput{"an entry is not an object"};
    sim::ProviderEntry e;
    e.id = Uint(Field(j, "id", Json::Number), "id");
    e.guid = ParseGuidStrict(Field(j, "guid", Json::String).text);
    DWORD len = Uint(Field(j, "chain_len", Json::Number), "chain_len");
    const Json& chain = Field(j, "chain", Json::Array);
    if (len > MAX_PROTOCOL_CHAIN || chain.items.size() > MAX_PROTOCOL_CHAIN)
      throw BadInput{"chain longer than 7"};
    if (chain.items.size() != len) throw BadInput{"chain does not hold chain_len elements"};
    e.chain_len = static_cast<int>(len);
    for (const Json& c : chain.items) e.chain.push_back(Uint(c, "chain element"));
    e.name = Wide(Field(j, "name", Json::String).text);
    if (e.name.size() > WSAPROTOCOL_LEN) throw BadInput{"name longer than 255 characters"};
    e.path = Wide(Field(j, "path", Json::String).text);
    entries.push_back(e);
  }
  sim::SetCatalog(entries);
  for (const char* list : {"fail_path", "fail_deinstall", "fail_update", "fail_install"}) {
    auto it = doc.fields.find(list);
    if (it == doc.fields.end()) continue;
    if (it->second.kind != Json::Array) throw BadInput{std::string("field \"") + list + "\" has the wrong type"};
    for (const Json& g : it->second.items) {
      if (g.kind != Json::String) throw BadInput{std::string(list) + " holds a non-string"};
      GUID guid = ParseGuidStrict(g.text);
      if (list[5] == 'p') sim::FailProviderPath(guid);
      else if (list[5] == 'd') sim::FailDeinstall(guid);
      else if (list[5] == 'u') sim::FailUpdate(guid);
      else sim::FailInstall(guid);
    }
  }
}

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    AppendUtf8(&out, c);
  }
  return out;
}

std::string Quoted(const std::u16string& s) {
  std::string out = "\"";
  for (char c : Utf8(s)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
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
  FILE* f = fopen(file, "wb");
  if (f == nullptr) return false;
  fprintf(f, "{\"entries\": [");
  std::vector<sim::ProviderEntry> left = sim::CatalogEntries();
  for (size_t i = 0; i < left.size(); ++i) {
    const sim::ProviderEntry& e = left[i];
    std::string chain;
    for (size_t k = 0; k < e.chain.size(); ++k) chain += (k ? ", " : "") + std::to_string(e.chain[k]);
    fprintf(f, "%s\n  {\"id\": %u, \"guid\": \"%s\", \"chain_len\": %d, \"chain\": [%s], \"name\": %s, \"path\": %s}",
            i ? "," : "", static_cast<unsigned>(e.id), sim::GuidText(e.guid).c_str(), e.chain_len, chain.c_str(),
            Quoted(e.name).c_str(), Quoted(e.path).c_str());
  }
  fprintf(f, "\n]}\n");
  return fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* left = nullptr;
  if (argc == 4 && strcmp(argv[2], "--left") == 0) left = argv[3];
  if (argc != 2 && left == nullptr) {
    fprintf(stderr, "usage: lspreplay CATALOG.json [--left FILE]\n");
    return 2;
  }
  sim::Reset(sim::Windows::WinXP);
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw BadInput{std::string("cannot read ") + argv[1]};
    std::stringstream buf;
    buf << in.rdbuf();
    std::string text = buf.str();
    Load(Reader(text).Document());
  } catch (const BadInput& e) {
    fprintf(stderr, "lspreplay: %s\n", e.what.c_str());
    return 2;
  }
  sim::ClearDebug();
  StartWinsock();
  {
    BoundCatalog catalog(false);
    RemoveProductFromCatalog(catalog.Api());
  }
  WSACleanup();
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
  if (left != nullptr && !WriteLeft(left)) {
    fprintf(stderr, "lspreplay: cannot write %s\n", left);
    return 2;
  }
  return 0;
}
