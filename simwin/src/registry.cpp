// Simulated registry: one tree per root, the 32-bit view of HKLM\SOFTWARE on
// 64-bit Windows stored under SOFTWARE\Wow6432Node as Windows stores it.
// Names are Unicode, kept in UTF-8 as the file system keeps them: the "A"
// calls convert a name in through the machine's ANSI code page and out with
// Windows' best fit (codepage.cpp), so a key named "X\u00a5Y" is listed by
// RegEnumKeyExA as "X\\Y" on a Japanese machine, and a name given to an "A"
// call is converted whole before its backslashes part it. The "W" calls take
// and give the names as they are.
#include "state.h"

namespace sim {
namespace detail {

static std::string RootName(HKEY root) {
  switch (reinterpret_cast<uintptr_t>(root)) {
    case 0x80000000u: return "HKCR";
    case 0x80000001u: return "HKCU";
    case 0x80000002u: return "HKLM";
    case 0x80000003u: return "HKU";
  }
  return "";
}

static std::string CanonicalRoot(const std::string& name) {
  std::string u = Upper(name);
  if (u == "HKEY_LOCAL_MACHINE") return "HKLM";
  if (u == "HKEY_CURRENT_USER") return "HKCU";
  if (u == "HKEY_CLASSES_ROOT") return "HKCR";
  if (u == "HKEY_USERS") return "HKU";
  return u;
}

static RegNode* FindFrom(const std::vector<std::string>& path, bool follow_last, int hops);

// Walks names below a key as Windows parses a name relative to it: a link
// met on the way is followed (the last name's too unless follow_last is
// false); what lies above the key is never looked at again.
static RegNode* Descend(RegNode* node, const std::vector<std::string>& names, size_t first, bool follow_last,
                        int hops) {
  for (size_t i = first; i < names.size(); ++i) {
    auto it = node->subkeys.find(Upper(names[i]));
    if (it == node->subkeys.end()) return nullptr;
    node = it->second.get();
    if (!node->link_target.empty() && (i + 1 < names.size() || follow_last)) {
      if (hops >= 32) return nullptr;
      std::vector<std::string> rest = SplitPath(node->link_target);
      rest.insert(rest.end(), names.begin() + static_cast<std::ptrdiff_t>(i) + 1, names.end());
      return FindFrom(rest, follow_last, hops + 1);
    }
  }
  return node;
}

static RegNode* FindFrom(const std::vector<std::string>& path, bool follow_last, int hops) {
  if (path.empty()) return nullptr;
  auto r = S().reg_roots.find(CanonicalRoot(path[0]));
  if (r == S().reg_roots.end()) return nullptr;
  return Descend(r->second.get(), path, 1, follow_last, hops);
}

RegNode* RegFind(const std::vector<std::string>& path, bool follow_last) {
  SyncCatalogKeys();
  return FindFrom(path, follow_last, 0);
}

// Takes a key (with everything below it) out of the tree; handles still open
// on any of them see a deleted key from now on.
static void MarkDeleted(RegNode* node) {
  node->deleted = true;
  node->parent = nullptr;
  for (auto& c : node->subkeys) MarkDeleted(c.second.get());
}
static void Detach(RegNode* parent, const std::string& name_upper) {
  auto it = parent->subkeys.find(name_upper);
  if (it == parent->subkeys.end()) return;
  MarkDeleted(it->second.get());
  parent->subkeys.erase(it);
}

// The physical path of a logical one: the 32-bit view of HKLM\SOFTWARE on
// 64-bit Windows lives under SOFTWARE\Wow6432Node.
std::vector<std::string> ToPhysical(std::vector<std::string> logical, bool view32) {
  const VersionState& v = S().version;
  if (v.windows_64 && view32 && logical.size() >= 3 && logical[0] == "HKLM" &&
      Upper(logical[1]) == "SOFTWARE" && Upper(logical[2]) != "WOW6432NODE")
    logical.insert(logical.begin() + 2, "Wow6432Node");
  return logical;
}

// What a handle stands for: a predefined root, or the key it was opened on
// with the path and view it was opened with.
struct KeyRef {
  std::vector<std::string> logical;
  bool view32 = false;
  REGSAM access = 0;
  bool predefined = false;
  bool open_link = false;
  RegNode* node = nullptr;  // null for a predefined root
};

bool RefOf(HKEY key, KeyRef* ref) {
  std::string root = RootName(key);
  if (!root.empty()) {
    ref->logical = {root};
    ref->view32 = S().version.windows_64 && !S().version.process_64;
    ref->access = KEY_ALL_ACCESS;
    ref->predefined = true;
    return true;
  }
  auto it = S().open_keys.find(reinterpret_cast<uintptr_t>(key));
  if (it == S().open_keys.end()) return false;
  ref->logical = it->second.path;
  ref->view32 = (it->second.access & 0x80000000u) != 0;
  ref->access = it->second.access & 0x7fffffffu;
  ref->open_link = it->second.open_link;
  ref->node = it->second.node.get();
  return true;
}

// Windows XP x64 and Server 2003 x64 keep no view on a handle: a name
// opened relative to a key of the 64-bit view without KEY_WOW64_64KEY lands
// in the 32-bit view, where Vista and later keep the handle's view. Wine's
// registry conformance test records it (dlls/advapi32/tests/registry.c,
// test_redirection: "Software\\Wine" opened with KEY_WOW64_64KEY, then
// "Winetest" below it without a flag: ok( dw == 64 || broken(dw == 32)
// /* xp64 */ )).
static bool HandlesKeepNoView() {
  const VersionState& v = S().version;
  return v.windows_64 && v.platform == VER_PLATFORM_WIN32_NT && v.major == 5;
}

// How a name relative to a key is found: from the key itself, or (where the
// view changes on the way) by its whole path from the root, as the WOW64
// layer reopens it.
struct Route {
  std::vector<std::string> logical;
  bool view32 = false;
  bool by_path = false;
  std::vector<std::string> physical;  // when by_path
};

static Route RouteOf(const KeyRef& ref, const std::vector<std::string>& parts, REGSAM access) {
  Route r;
  r.view32 = ref.view32;
  const VersionState& v = S().version;
  if (v.windows_64) {
    if (access & KEY_WOW64_64KEY) r.view32 = false;
    else if (access & KEY_WOW64_32KEY) r.view32 = true;
    else if (!ref.predefined && HandlesKeepNoView()) r.view32 = !v.process_64;
  }
  r.logical = ref.logical;
  r.logical.insert(r.logical.end(), parts.begin(), parts.end());
  r.physical = ToPhysical(r.logical, r.view32);
  std::vector<std::string> below = ToPhysical(ref.logical, r.view32);
  below.insert(below.end(), parts.begin(), parts.end());
  r.by_path = ref.predefined || r.view32 != ref.view32 || below != r.physical;
  return r;
}

static RegNode* Open(const KeyRef& ref, const Route& r, const std::vector<std::string>& parts, bool follow_last,
                     LSTATUS* status) {
  RegNode* node = nullptr;
  if (r.by_path) {
    node = RegFind(r.physical, follow_last);
  } else if (ref.node->deleted) {
    *status = ERROR_KEY_DELETED;
    return nullptr;
  } else {
    node = Descend(ref.node, parts, 0, follow_last, 0);
  }
  if (node == nullptr) *status = ERROR_FILE_NOT_FOUND;
  return node;
}

// The parent and upper-case name of the key a link leads to.
static RegNode* LinkTargetParent(const RegNode& link, std::string* leaf) {
  std::vector<std::string> target = SplitPath(link.link_target);
  if (target.size() < 2) return nullptr;
  *leaf = Upper(target.back());
  target.pop_back();
  return RegFind(target);
}

static LSTATUS DeleteTree(RegNode* parent, const std::string& name_upper, int depth = 0) {
  auto it = parent->subkeys.find(name_upper);
  if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
  RegNode* node = it->second.get();
  if (!node->link_target.empty()) {
    // The tree deletion opens a link like any key and deletes what it leads
    // to; the link itself stays behind, leading nowhere.
    std::string leaf;
    RegNode* target_parent = LinkTargetParent(*node, &leaf);
    if (target_parent == nullptr || depth > 32) return ERROR_FILE_NOT_FOUND;
    return DeleteTree(target_parent, leaf, depth + 1);
  }
  std::vector<std::string> names;
  for (auto& c : node->subkeys) names.push_back(c.first);
  for (const std::string& n : names) {
    LSTATUS s = DeleteTree(node, n, depth + 1);
    if (s != ERROR_SUCCESS) return s;
  }
  if (node->deny_delete) return ERROR_ACCESS_DENIED;
  Detach(parent, name_upper);
  return ERROR_SUCCESS;
}

static RegNode* CreatePath(const std::string& path) {
  SyncCatalogKeys();
  std::vector<std::string> parts = SplitPath(path);
  auto r = S().reg_roots.find(CanonicalRoot(parts.at(0)));
  if (r == S().reg_roots.end()) abort();
  RegNode* node = r->second.get();
  for (size_t i = 1; i < parts.size(); ++i) {
    auto& slot = node->subkeys[Upper(parts[i])];
    if (!slot) {
      slot = std::make_shared<RegNode>();
      slot->name = parts[i];
      slot->parent = node;
    }
    node = slot.get();
  }
  return node;
}

}  // namespace detail

using namespace detail;

void RegCreate(const std::string& path) { CreatePath(path); }
void RegSetString(const std::string& path, const std::string& name, const std::string& value) {
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  RegSetRaw(path, name, REG_SZ, data);
}
void RegSetRaw(const std::string& path, const std::string& name, DWORD type,
               const std::vector<uint8_t>& data) {
  RegNode* node = CreatePath(path);
  RegValue& v = node->values[Upper(name)];
  v.name = name;
  v.type = type;
  v.data = data;
}
bool RegExists(const std::string& path) { return RegFind(SplitPath(path)) != nullptr; }
bool RegValueExists(const std::string& path, const std::string& name) {
  RegNode* n = RegFind(SplitPath(path));
  return n != nullptr && n->values.count(Upper(name)) != 0;
}
std::vector<uint8_t> RegValueData(const std::string& path, const std::string& name) {
  RegNode* n = RegFind(SplitPath(path));
  if (n == nullptr || n->values.count(Upper(name)) == 0) return {};
  return n->values[Upper(name)].data;
}
std::vector<std::string> RegSubkeys(const std::string& path) {
  std::vector<std::string> r;
  RegNode* n = RegFind(SplitPath(path));
  if (n != nullptr)
    for (auto& c : n->subkeys) r.push_back(c.second->name);
  return r;
}
void RegLink(const std::string& path, const std::string& target) {
  // A link is a key of its own, made as one: whatever stood at that name is
  // gone first.
  RegDelete(path);
  RegNode* node = CreatePath(path);
  node->link_target = target;
  // Windows keeps the target as "\\REGISTRY\\MACHINE\\..." in UTF-16.
  std::u16string text = Utf8ToUtf16("\\REGISTRY\\MACHINE" + target.substr(target.find('\\')));
  std::vector<uint8_t> data;
  for (char16_t c : text) {
    data.push_back(static_cast<uint8_t>(c & 0xFF));
    data.push_back(static_cast<uint8_t>(c >> 8));
  }
  RegValue v;
  v.name = "SymbolicLinkValue";
  v.type = REG_LINK;
  v.data = data;
  node->values[Upper(v.name)] = v;
}
void RegDelete(const std::string& path) {
  std::vector<std::string> parts = SplitPath(path);
  if (parts.size() < 2) return;
  std::string leaf = Upper(parts.back());
  parts.pop_back();
  RegNode* parent = RegFind(parts);
  if (parent != nullptr) Detach(parent, leaf);
}
bool RegIsLink(const std::string& path) {
  RegNode* n = RegFind(SplitPath(path), false);
  return n != nullptr && !n->link_target.empty();
}
void RegDenyWrite(const std::string& path) { CreatePath(path)->deny_write = true; }
void RegDenyDelete(const std::string& path) { CreatePath(path)->deny_delete = true; }
size_t RegOpenHandles() { return S().open_keys.size(); }
static size_t CountBelow(const RegNode* n) {
  size_t c = 1;
  for (auto& s : n->subkeys) c += CountBelow(s.second.get());
  return c;
}
size_t RegCountKeys(const std::string& path) {
  RegNode* n = RegFind(SplitPath(path));
  return n == nullptr ? 0 : CountBelow(n);
}

}  // namespace sim

using namespace sim::detail;

static std::string KeyName(HKEY key) {
  std::string r = sim::detail::Format("%p", static_cast<void*>(key));
  uintptr_t v = reinterpret_cast<uintptr_t>(key);
  if (v == 0x80000002u) r = "HKLM";
  if (v == 0x80000001u) r = "HKCU";
  return r;
}

static RegNode* SimRegNodeOf(HKEY key, REGSAM need, LSTATUS* status);

static std::string Utf8OfWide(LPCWSTR text) {
  if (text == nullptr) return "";
  size_t chars = 0;
  while (text[chars] != 0) ++chars;
  return Utf16ToUtf8(text, chars);
}

// What older Windows refuse in an open. KEY_WOW64_64KEY and KEY_WOW64_32KEY
// came with XP ("Windows 2000: This flag is not supported", Microsoft's
// Registry Key Security and Access Rights); Windows 2000 and NT 4.0 refuse
// them with ERROR_ACCESS_DENIED (Wine's
// dlls/advapi32/tests/registry.c, test_reg_open_key: "Software" opened with
// KEY_READ|KEY_WOW64_32KEY and KEY_READ|KEY_WOW64_64KEY, ok(ret ==
// ERROR_SUCCESS || broken(ret == ERROR_ACCESS_DENIED /* NT4, win2k */))).
// Windows 98 and Me: the SDK documentation of their time gives ulOptions of
// RegOpenKeyEx as "reserved; must be zero", and no source tells what they
// do with anything else, so it is refused.
static LSTATUS RefusedOpen(DWORD options, REGSAM access) {
  const sim::VersionState& v = S().version;
  if (v.platform != VER_PLATFORM_WIN32_NT) return options != 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  bool before_xp = v.major < 5 || (v.major == 5 && v.minor == 0);
  if (before_xp && (access & (KEY_WOW64_64KEY | KEY_WOW64_32KEY))) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

static LSTATUS OpenByName(HKEY root, const std::string& subkey, DWORD options, REGSAM access, PHKEY result) {
  KeyRef ref;
  if (!RefOf(root, &ref)) return ERROR_INVALID_HANDLE;
  if (LSTATUS refused = RefusedOpen(options, access)) return refused;
  std::vector<std::string> parts = SplitPath(subkey);
  Route route = RouteOf(ref, parts, access);
  // Windows 9x has no links and no REG_OPTION_OPEN_LINK.
  bool open_link = (options & REG_OPTION_OPEN_LINK) && S().version.platform == VER_PLATFORM_WIN32_NT;
  LSTATUS status = ERROR_SUCCESS;
  RegNode* node = Open(ref, route, parts, !open_link, &status);
  if (node == nullptr) return status;
  const REGSAM write_bits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE;
  if (node->deny_write && (access & write_bits)) return ERROR_ACCESS_DENIED;
  uintptr_t h = S().next_key;
  S().next_key += 4;
  sim::detail::OpenKey ok_key;
  ok_key.path = route.logical;
  REGSAM granted = access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
  ok_key.access = granted | (route.view32 ? 0x80000000u : 0);
  ok_key.open_link = open_link;
  ok_key.node = node->shared_from_this();
  S().open_keys[h] = ok_key;
  *result = reinterpret_cast<HKEY>(h);
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subkey, DWORD options, REGSAM access, PHKEY result) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RegOpenKeyExA", err, "%s,%s,%u,0x%x", KeyName(root).c_str(), Str(subkey).c_str(),
            options, access))
    return static_cast<LSTATUS>(err);
  return OpenByName(root, AnsiToUtf8(subkey), options, access, result);
}

LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result) {
  DWORD err = ERROR_ACCESS_DENIED;
  std::string name = Utf8OfWide(subkey);
  if (Enter("RegOpenKeyExW", err, "%s,%s,%u,0x%x", KeyName(root).c_str(),
            subkey == nullptr ? "(null)" : ("\"" + name + "\"").c_str(), options, access))
    return static_cast<LSTATUS>(err);
  return OpenByName(root, name, options, access, result);
}

LSTATUS RegCloseKey(HKEY key) {
  DWORD err = ERROR_INVALID_HANDLE;
  bool fail = Enter("RegCloseKey", err, "%s", KeyName(key).c_str());
  uintptr_t v = reinterpret_cast<uintptr_t>(key);
  if (v >= 0x80000000u && v <= 0x80000003u) return ERROR_SUCCESS;
  // The handle is closed even when the call is made to report a failure.
  if (S().open_keys.erase(v) == 0) return ERROR_INVALID_HANDLE;
  return fail ? static_cast<LSTATUS>(err) : ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RegQueryValueExA", err, "%s,%s,data=%s,size=%u", KeyName(key).c_str(), Str(name).c_str(),
            data ? "buf" : "null", size ? *size : 0))
    return static_cast<LSTATUS>(err);
  (void)reserved;
  LSTATUS status = ERROR_SUCCESS;
  RegNode* node = SimRegNodeOf(key, KEY_QUERY_VALUE, &status);
  if (node == nullptr) return status;
  auto it = node->values.find(Upper(AnsiToUtf8(name)));
  if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
  const sim::detail::RegValue& v = it->second;
  if (type != nullptr) *type = v.type;
  DWORD len = static_cast<DWORD>(v.data.size());
  if (data == nullptr) {
    if (size != nullptr) *size = len;
    return ERROR_SUCCESS;
  }
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  if (*size < len) {
    *size = len;
    return ERROR_MORE_DATA;
  }
  if (len != 0) memcpy(data, v.data.data(), len);
  *size = len;
  return ERROR_SUCCESS;
}

static RegNode* SimRegNodeOf(HKEY key, REGSAM need, LSTATUS* status) {
  KeyRef ref;
  if (!RefOf(key, &ref)) {
    *status = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if ((ref.access & need) != need) {
    *status = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (ref.predefined) return Open(ref, RouteOf(ref, {}, 0), {}, true, status);
  if (ref.node->deleted) {
    *status = ERROR_KEY_DELETED;
    return nullptr;
  }
  return ref.node;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RegDeleteValueA", err, "%s,%s", KeyName(key).c_str(), Str(name).c_str()))
    return static_cast<LSTATUS>(err);
  LSTATUS status = ERROR_SUCCESS;
  RegNode* node = SimRegNodeOf(key, KEY_SET_VALUE, &status);
  if (node == nullptr) return status;
  if (node->values.erase(Upper(AnsiToUtf8(name))) == 0) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

// The name of the subkey at index, in UTF-8.
static LSTATUS EnumKey(HKEY key, DWORD index, std::string* name) {
  LSTATUS status = ERROR_SUCCESS;
  RegNode* node = SimRegNodeOf(key, KEY_ENUMERATE_SUB_KEYS, &status);
  if (node == nullptr) return status;
  if (index >= node->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = node->subkeys.begin();
  std::advance(it, index);
  *name = it->second->name;
  return ERROR_SUCCESS;
}

// The name in the ANSI code page, sizes in bytes.
static LSTATUS EnumKeyAnsi(HKEY key, DWORD index, LPSTR name, LPDWORD name_size) {
  std::string utf8;
  LSTATUS status = EnumKey(key, index, &utf8);
  if (status != ERROR_SUCCESS) return status;
  std::string n = Utf8ToAnsi(utf8);
  if (n.size() + 1 > *name_size) return ERROR_MORE_DATA;
  memcpy(name, n.c_str(), n.size() + 1);
  *name_size = static_cast<DWORD>(n.size());
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                      LPSTR class_name, LPDWORD class_size, PFILETIME last_write) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RegEnumKeyExA", err, "%s,%u,size=%u", KeyName(key).c_str(), index,
            name_size ? *name_size : 0))
    return static_cast<LSTATUS>(err);
  (void)reserved;
  (void)class_name;
  (void)class_size;
  (void)last_write;
  return EnumKeyAnsi(key, index, name, name_size);
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size, LPDWORD reserved,
                      LPWSTR class_name, LPDWORD class_size, PFILETIME last_write) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RegEnumKeyExW", err, "%s,%u,size=%u", KeyName(key).c_str(), index, name_size ? *name_size : 0))
    return static_cast<LSTATUS>(err);
  (void)reserved;
  (void)class_name;
  (void)class_size;
  (void)last_write;
  std::string utf8;
  LSTATUS status = EnumKey(key, index, &utf8);
  if (status != ERROR_SUCCESS) return status;
  // Sizes in characters, the terminator counted in what is offered.
  std::u16string n = Utf8ToUtf16(utf8);
  if (n.size() + 1 > *name_size) return ERROR_MORE_DATA;
  memcpy(name, n.c_str(), sizeof(WCHAR) * (n.size() + 1));
  *name_size = static_cast<DWORD>(n.size());
  return ERROR_SUCCESS;
}

LSTATUS SHEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("SHEnumKeyExA", err, "%s,%u,size=%u", KeyName(key).c_str(), index,
            name_size ? *name_size : 0))
    return static_cast<LSTATUS>(err);
  return EnumKeyAnsi(key, index, name, name_size);
}

// The parent of the named subkey, found as RegOpenKeyExA without a view
// flag would find it, so that a 32-bit program on 64-bit Windows reaches
// SOFTWARE\\Wow6432Node.
static RegNode* ParentOf(HKEY key, LPCSTR subkey, std::string* leaf, LSTATUS* status) {
  KeyRef ref;
  if (!RefOf(key, &ref)) {
    *status = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  std::vector<std::string> parts = SplitPath(AnsiToUtf8(subkey));
  if (parts.empty()) {
    *status = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  Route route = RouteOf(ref, parts, 0);
  RegNode* node = nullptr;
  if (route.by_path) {
    std::vector<std::string> above = route.physical;
    *leaf = Upper(above.back());
    above.pop_back();
    node = RegFind(above);
  } else if (ref.node->deleted) {
    *status = ERROR_KEY_DELETED;
    return nullptr;
  } else {
    *leaf = Upper(parts.back());
    parts.pop_back();
    node = Descend(ref.node, parts, 0, true, 0);
  }
  if (node == nullptr || node->subkeys.count(*leaf) == 0) {
    *status = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return node;
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subkey) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("RegDeleteKeyA", err, "%s,%s", KeyName(key).c_str(), Str(subkey).c_str()))
    return static_cast<LSTATUS>(err);
  LSTATUS status = ERROR_SUCCESS;
  std::string leaf;
  RegNode* parent = ParentOf(key, subkey, &leaf, &status);
  if (parent == nullptr) return status;
  // Windows 95, 98 and Me delete the whole tree; the NT family refuses a key
  // that still has subkeys.
  if (S().version.platform == VER_PLATFORM_WIN32_WINDOWS) return DeleteTree(parent, leaf);
  RegNode* node = parent->subkeys[leaf].get();
  if (!node->link_target.empty()) {
    // The name is opened like any key: a link's target is what goes.
    parent = LinkTargetParent(*node, &leaf);
    if (parent == nullptr || parent->subkeys.count(leaf) == 0) return ERROR_FILE_NOT_FOUND;
    node = parent->subkeys[leaf].get();
  }
  if (!node->subkeys.empty() || node->deny_delete) return ERROR_ACCESS_DENIED;
  Detach(parent, leaf);
  return ERROR_SUCCESS;
}

LONG NtDeleteKey(HANDLE handle) {
  const LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022u);
  const LONG kStatusInvalidHandle = static_cast<LONG>(0xC0000008u);
  DWORD err = 0;
  if (Enter("NtDeleteKey", err, "%s", KeyName(static_cast<HKEY>(handle)).c_str())) return kStatusAccessDenied;
  HKEY key = static_cast<HKEY>(handle);
  auto open = S().open_keys.find(reinterpret_cast<uintptr_t>(key));
  if (open == S().open_keys.end()) return kStatusInvalidHandle;
  if (!(open->second.access & DELETE)) return kStatusAccessDenied;
  // The key the handle was opened on goes, whatever its name leads to now.
  RegNode* node = open->second.node.get();
  if (node->deleted || node->parent == nullptr) return static_cast<LONG>(0xC000017Cu);  // STATUS_KEY_DELETED
  if (node->deny_delete) return kStatusAccessDenied;
  if (!node->subkeys.empty()) return static_cast<LONG>(0xC0000121u);  // STATUS_CANNOT_DELETE
  Detach(node->parent, Upper(node->name));
  return 0;
}

LSTATUS SHDeleteKeyA(HKEY key, LPCSTR subkey) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("SHDeleteKeyA", err, "%s,%s", KeyName(key).c_str(), Str(subkey).c_str()))
    return static_cast<LSTATUS>(err);
  LSTATUS status = ERROR_SUCCESS;
  std::string leaf;
  RegNode* parent = ParentOf(key, subkey, &leaf, &status);
  if (parent == nullptr) return status;
  return DeleteTree(parent, leaf);
}
