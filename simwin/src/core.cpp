// Core of the simulated machine: call record and fault injection, the Windows
// kind and its presets, the loader, the clock, the console, debug output and
// the heaps.
#include "state.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace detail {

State& S() {
  static State* state = new State();
  return *state;
}

std::string Upper(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string Format(const char* fmt, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

std::string Str(const char* s) { return s == nullptr ? "(null)" : "\"" + std::string(s) + "\""; }

bool Enter(const char* name, DWORD& error, const char* fmt, ...) {
  State& st = S();
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  st.calls.push_back(Call{name, buf});
  if (st.call_observer) {
    Call made = st.calls.back();  // the observer may make calls of its own
    st.call_observer(made);
  }
  int nth = ++st.call_counts[name];
  for (size_t i = 0; i < st.hooks.size(); ++i) {
    if (st.hooks[i].name != name || st.hooks[i].nth != nth) continue;
    std::function<void()> action = std::move(st.hooks[i].action);
    st.hooks.erase(st.hooks.begin() + static_cast<std::ptrdiff_t>(i));
    action();
    break;
  }
  bool fail = st.fail_call_number != 0 && st.calls.size() == st.fail_call_number;
  for (const Fault& f : st.faults) {
    if (f.name == name && (f.nth == 0 || f.nth == nth)) {
      fail = true;
      if (f.error != 0) error = f.error;
    }
  }
  if (fail) {
    ++st.faults_fired;
    st.last_error = error;
  }
  return fail;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

static std::string ModuleKey(const std::string& dll) {
  std::string u = Upper(dll);
  size_t slash = u.find_last_of('\\');
  if (slash != std::string::npos) u = u.substr(slash + 1);
  if (u.size() > 4 && u.compare(u.size() - 4, 4, ".DLL") == 0) u.resize(u.size() - 4);
  return u;
}

// Handles of modules are addresses inside this table, one per module name.
static HMODULE ModuleHandle(const std::string& key) {
  static std::map<std::string, int>* slots = new std::map<std::string, int>();
  static char* base = static_cast<char*>(malloc(4096));
  auto it = slots->find(key);
  int slot = it == slots->end() ? static_cast<int>(slots->size()) : it->second;
  if (it == slots->end()) (*slots)[key] = slot;
  return reinterpret_cast<HMODULE>(base + 16 * (slot + 1));
}

static const Module* ModuleOf(HMODULE h) {
  for (auto& m : S().modules)
    if (ModuleHandle(m.first) == h) return &m.second;
  return nullptr;
}

static void SetExports(const std::string& dll, std::set<std::string> names) {
  Module m;
  m.name = ModuleKey(dll);
  m.exports = std::move(names);
  S().modules[m.name] = m;
}

static void ApplyKind(Windows kind, bool windows_64, bool process_64) {
  VersionState& v = S().version;
  v = VersionState{};
  switch (kind) {
    case Windows::Win95: v.platform = 1; v.major = 4; v.minor = 0; v.build = 950; break;
    case Windows::Win98: v.platform = 1; v.major = 4; v.minor = 10; v.build = 2222; break;
    case Windows::WinMe: v.platform = 1; v.major = 4; v.minor = 90; v.build = 3000; break;
    case Windows::NT351: v.platform = 2; v.major = 3; v.minor = 51; v.build = 1057; break;
    case Windows::NT4: v.platform = 2; v.major = 4; v.minor = 0; v.build = 1381; break;
    case Windows::Win2000: v.major = 5; v.minor = 0; v.build = 2195; break;
    case Windows::WinXP: v.major = 5; v.minor = 1; v.build = 2600; break;
    case Windows::Server2003: v.major = 5; v.minor = 2; v.build = 3790; break;
    case Windows::XP64: v.major = 5; v.minor = 2; v.build = 3790; windows_64 = true; break;
    case Windows::Vista: v.major = 6; v.minor = 0; v.build = 6002; break;
    case Windows::Win7: v.major = 6; v.minor = 1; v.build = 7601; break;
    case Windows::Win8: v.major = 6; v.minor = 2; v.build = 9200; break;
    case Windows::Win10: v.major = 6; v.minor = 2; v.build = 9200; break;  // as GetVersionExA reports it
  }
  bool nine_x = v.platform == 1;
  // The extended record came with NT 4.0 SP6 and Windows 2000; 9x refuses it.
  v.accepts_ex = !nine_x && v.major >= 5;
  v.windows_64 = windows_64;
  v.process_64 = windows_64 && process_64;
  v.native_arch = windows_64 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;

  bool xp_or_later = !nine_x && (v.major > 5 || (v.major == 5 && v.minor >= 1));
  bool wow64_api = windows_64 || (!nine_x && v.major >= 6);
  std::set<std::string> k32 = {"GetFileInformationByHandle"};
  // GetLongPathName came with Windows 98 and 2000 (Microsoft's documentation).
  if (nine_x ? v.minor >= 10 : v.major >= 5) k32.insert("GetLongPathNameA");
  if (xp_or_later) k32.insert({"IsWow64Process", "GetNativeSystemInfo"});
  if (wow64_api) k32.insert({"Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection"});
  if (!nine_x && v.major >= 6) k32.insert({"QueryFullProcessImageNameA", "QueryFullProcessImageNameW"});
  if (nine_x || v.major >= 5) k32.insert({"CreateToolhelp32Snapshot", "Process32First", "Process32Next"});
  SetExports("KERNEL32", k32);
  std::set<std::string> adv;
  if (!nine_x)
    adv = {"AddAccessAllowedAceEx", "GetAclInformation", "GetFileSecurityA",
           "GetSecurityDescriptorDacl", "InitializeAcl", "InitializeSecurityDescriptor",
           "LookupAccountNameA", "SetSecurityDescriptorDacl", "SetFileSecurityA", "GetKernelObjectSecurity",
           "SetKernelObjectSecurity", "OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges",
           "RegOpenKeyExW", "RegEnumKeyExW"};
  // AddAccessAllowedAceEx arrived with Windows 2000.
  if (!nine_x && v.major < 5) adv.erase("AddAccessAllowedAceEx");
  SetExports("ADVAPI32", adv);
  if (!nine_x) {
    SetExports("PSAPI", {"EnumProcesses", "EnumProcessModules", "GetModuleFileNameExA", "GetModuleFileNameExW"});
    SetExports("VDMDBG", {"VDMEnumTaskWOWEx"});
    SetExports("NTDLL", {"NtDeleteKey", "NtOpenFile", "NtQueryDirectoryFile", "NtQueryInformationFile",
                         "NtSetInformationFile"});
  }
  // Winsock 2 could always install a provider; the update came with XP, and
  // the order call moved from sporder.dll into ws2_32.dll with Vista.
  bool vista = !nine_x && v.major >= 6;
  std::set<std::string> ws2 = {"WSAStartup", "WSACleanup", "WSCEnumProtocols", "WSCGetProviderPath",
                               "WSCDeinstallProvider", "WSCInstallProvider"};
  if (xp_or_later) ws2.insert("WSCUpdateProvider");
  if (vista) ws2.insert("WSCWriteProviderOrder");
  if (v.windows_64 && v.process_64)
    ws2.insert({"WSCEnumProtocols32", "WSCGetProviderPath32", "WSCDeinstallProvider32", "WSCUpdateProvider32",
                "WSCWriteProviderOrder32"});
  SetExports("WS2_32", ws2);
  if (!vista) SetExports("SPORDER", {"WSCWriteProviderOrder"});
}

static void PresetFolders() {
  State& st = S();
  const VersionState& v = st.version;
  bool nine_x = v.platform == 1;
  bool vista = !nine_x && v.major >= 6;
  bool w2k = !nine_x && v.major == 5 && v.minor == 0;
  st.volumes.clear();
  st.volumes['C'] = nine_x ? "FAT32" : "NTFS";
  st.fs_root = std::make_unique<FsNode>();
  st.fs_root->dir = true;
  st.special_folders.clear();
  st.redirection_disabled = false;
  std::string win = vista ? "C:\\Windows" : (w2k ? "C:\\WINNT" : "C:\\WINDOWS");
  st.windows_dir = win;
  st.system_dir = win + (nine_x ? "\\SYSTEM" : "\\system32");
  st.current_dir = "C:\\";
  MkDir(st.system_dir);
  if (v.windows_64) MkDir(win + "\\SysWOW64");
  std::string pf = "C:\\Program Files";
  MkDir(pf);
  if (v.windows_64) MkDir("C:\\Program Files (x86)");
  std::string cv = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  RegSetString(cv, "ProgramFilesDir", pf);
  if (v.windows_64) RegSetString("HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion",
                                 "ProgramFilesDir", "C:\\Program Files (x86)");
  RegCreate(cv + "\\Run");
  if (nine_x) {
    SetSpecialFolder(CSIDL_APPDATA, win + "\\Application Data");
    SetSpecialFolder(CSIDL_PROGRAMS, win + "\\Start Menu\\Programs");
  } else if (vista) {
    SetSpecialFolder(CSIDL_APPDATA, "C:\\Users\\admin\\AppData\\Roaming");
    SetSpecialFolder(CSIDL_PROGRAMS,
                     "C:\\Users\\admin\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
    SetSpecialFolder(CSIDL_COMMON_APPDATA, "C:\\ProgramData");
    SetSpecialFolder(CSIDL_COMMON_PROGRAMS, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
  } else {
    std::string ds = "C:\\Documents and Settings\\";
    SetSpecialFolder(CSIDL_APPDATA, ds + "admin\\Application Data");
    SetSpecialFolder(CSIDL_PROGRAMS, ds + "admin\\Start Menu\\Programs");
    SetSpecialFolder(CSIDL_COMMON_APPDATA, ds + "All Users\\Application Data");
    SetSpecialFolder(CSIDL_COMMON_PROGRAMS, ds + "All Users\\Start Menu\\Programs");
  }
}

FARPROC ProcByName(const std::string& name);

SimProcess* FindProcess(DWORD pid) {
  for (SimProcess& p : S().processes)
    if (p.pid == pid) return &p;
  return nullptr;
}

HANDLE NewHandle(const KernelObject& object) {
  uintptr_t h = S().next_handle;
  S().next_handle += 4;
  KernelObject& stored = S().handles[h] = object;
  if (stored.kind == KernelObject::kProcess && stored.process == 0) {
    SimProcess* p = FindProcess(stored.pid);
    if (p != nullptr) {
      if (p->serial == 0) p->serial = S().next_process_serial++;
      stored.process = p->serial;
    }
  }
  return reinterpret_cast<HANDLE>(h);
}

SimProcess* ProcessOf(const KernelObject& object) {
  if (object.process == 0) return FindProcess(object.pid);
  for (SimProcess& p : S().processes)
    if (p.serial == object.process) return &p;
  return nullptr;
}

KernelObject* FindHandle(HANDLE handle) {
  auto it = S().handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == S().handles.end() ? nullptr : &it->second;
}

}  // namespace detail

using namespace detail;

void Reset(Windows kind, bool windows_64, bool process_64) {
  State& st = S();
  // The last machine's catalogs must not be mirrored into the new registry.
  DropCatalogCopies();
  st.calls.clear();
  st.faults.clear();
  st.hooks.clear();
  st.call_counts.clear();
  st.fail_call_number = 0;
  st.faults_fired = 0;
  st.last_error = 0;
  st.modules.clear();
  st.loaded.clear();
  st.load_calls.clear();
  st.library_loads.clear();
  st.exe_dir = "C:\\tool";
  st.now_ms = 0;
  st.has_console = true;
  st.keys.clear();
  st.key_polls = 0;
  st.debug.clear();
  for (void* p : st.heap_blocks) free(p);
  st.heap_blocks.clear();
  for (void* p : st.local_blocks) free(p);
  st.local_blocks.clear();
  st.reg_roots.clear();
  st.open_keys.clear();
  st.processes.clear();
  st.handles.clear();
  st.next_pid = 1000;
  st.next_process_serial = 1;
  st.drive_types.clear();
  for (const char* root : {"HKLM", "HKCU", "HKCR", "HKU"}) {
    st.reg_roots[root] = std::make_unique<RegNode>();
    st.reg_roots[root]->name = root;
  }
  ApplyKind(kind, windows_64, process_64);
  ResetSecurity();
  PresetFolders();
  ResetProcesses();
  ResetWinsock();
  ResetShell();
  st.calls.clear();
  st.call_counts.clear();
  st.call_observer = nullptr;
}

void SetNativeProcessor(WORD architecture) { S().version.native_arch = architecture; }

void SetVersion(DWORD platform, DWORD major, DWORD minor, bool accepts_ex) {
  VersionState& v = S().version;
  v.platform = platform;
  v.major = major;
  v.minor = minor;
  v.accepts_ex = accepts_ex;
}

const std::vector<Call>& Calls() { return S().calls; }
size_t CountCalls(const std::string& name) {
  size_t n = 0;
  for (const Call& c : S().calls) n += c.name == name;
  return n;
}
void ObserveCalls(std::function<void(const Call&)> observer) {
  S().call_observer = std::move(observer);
}
void ClearCalls() {
  S().calls.clear();
  S().call_counts.clear();
}
void FailCall(const std::string& name, int nth, DWORD error) { S().faults.push_back({name, nth, error}); }
void FailAlways(const std::string& name, DWORD error) { S().faults.push_back({name, 0, error}); }
void OnCall(const std::string& name, int nth, std::function<void()> action) {
  S().hooks.push_back({name, nth, std::move(action)});
}
void FailCallNumber(size_t n) { S().fail_call_number = n; }
size_t FaultsFired() { return S().faults_fired; }
void ClearFaults() {
  S().faults.clear();
  S().fail_call_number = 0;
}

void SetDllExports(const std::string& dll, const std::set<std::string>& names) { SetExports(dll, names); }
void RemoveDll(const std::string& dll) { S().modules.erase(ModuleKey(dll)); }
void RemoveExport(const std::string& dll, const std::string& name) {
  auto it = S().modules.find(ModuleKey(dll));
  if (it != S().modules.end()) it->second.exports.erase(name);
}
bool HasExport(const std::string& dll, const std::string& name) {
  auto it = S().modules.find(ModuleKey(dll));
  return it != S().modules.end() && it->second.exports.count(name) != 0;
}
int LoadedCount(const std::string& dll) {
  auto it = S().loaded.find(ModuleKey(dll));
  return it == S().loaded.end() ? 0 : it->second;
}
int LoadCalls(const std::string& dll) {
  auto it = S().load_calls.find(ModuleKey(dll));
  return it == S().load_calls.end() ? 0 : it->second;
}

uint64_t NowMs() { return S().now_ms; }
void SetConsole(bool has_console) { S().has_console = has_console; }
void QueueKey(int key) { S().keys.push_back(key); }
size_t KeysLeft() { return S().keys.size(); }
std::vector<std::string> DebugLines() { return S().debug; }
void ClearDebug() { S().debug.clear(); }

DWORD RunAs64BitProcess(const std::function<DWORD()>& f) {
  VersionState& v = S().version;
  const bool old = v.process_64;
  auto it = S().modules.find("WS2_32");
  std::set<std::string> exports = it == S().modules.end() ? std::set<std::string>() : it->second.exports;
  if (v.windows_64) {
    v.process_64 = true;
    std::set<std::string> wide = exports;
    wide.insert({"WSCEnumProtocols32", "WSCGetProviderPath32", "WSCDeinstallProvider32", "WSCUpdateProvider32",
                 "WSCWriteProviderOrder32"});
    SetExports("WS2_32", wide);
  }
  DWORD code = f();
  v.process_64 = old;
  if (it != S().modules.end()) SetExports("WS2_32", exports);
  return code;
}

std::string RunWithConsole(const std::string& input, const std::function<void()>& f) {
  char* out_buf = nullptr;
  size_t out_len = 0;
  FILE* out = open_memstream(&out_buf, &out_len);
  std::string in_copy = input;
  FILE* in = in_copy.empty() ? fopen("/dev/null", "r")
                             : fmemopen(in_copy.data(), in_copy.size(), "r");
  FILE* saved_out = stdout;
  FILE* saved_in = stdin;
  fflush(stdout);
  stdout = out;
  stdin = in;
  f();
  fflush(out);
  stdout = saved_out;
  stdin = saved_in;
  fclose(in);
  fclose(out);
  std::string result(out_buf, out_len);
  free(out_buf);
  return result;
}

size_t LiveHeapBlocks() { return S().heap_blocks.size(); }
size_t LiveLocalBlocks() { return S().local_blocks.size(); }

}  // namespace sim

using namespace sim::detail;

// ---------------------------------------------------------------- kernel: version, loader

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  DWORD err = ERROR_INVALID_PARAMETER;
  if (Enter("GetVersionExA", err, "size=%u", info ? info->dwOSVersionInfoSize : 0)) return FALSE;
  const sim::VersionState& v = S().version;
  DWORD size = info->dwOSVersionInfoSize;
  bool ok = size == sizeof(OSVERSIONINFOA) || (size == sizeof(OSVERSIONINFOEXA) && v.accepts_ex);
  if (!ok) {
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  info->dwMajorVersion = v.major;
  info->dwMinorVersion = v.minor;
  info->dwBuildNumber = v.build;
  info->dwPlatformId = v.platform;
  memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  DWORD err = ERROR_MOD_NOT_FOUND;
  if (Enter("GetModuleHandleA", err, "%s", Str(name).c_str())) return nullptr;
  if (name == nullptr) return ModuleHandle("<EXE>");
  std::string key = ModuleKey(name);
  if (S().modules.count(key) == 0) {
    S().last_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  return ModuleHandle(key);
}

// ---------------------------------------------------------------- loader: where a library is found

namespace {

// The tool's exe imports these (and every program has ntdll): they are in the
// process before its first line runs, and a name without a path is answered
// with the module already there, without any search.
bool LoadedAtStart(const std::string& key) {
  static const char* const kImported[] = {"NTDLL",  "KERNEL32", "ADVAPI32", "USER32",
                                          "SHELL32", "VERSION",  "MSVCRT"};
  for (const char* k : kImported)
    if (key == k) return true;
  return false;
}

bool SameFolder(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

// What loading the file at a full (resolved) path gives: the system's module
// when it is the system folder of the tool's own bitness, a DLL someone put
// there when a file of that name lies elsewhere.
enum class Found { kNothing, kSystem, kPlanted, kWrongBitness };

Found FindAt(const std::string& full, const std::string& key) {
  State& st = S();
  std::string folder = FolderOf(full);
  // A WOW64 tool's own system DLLs lie in SysWOW64, which its System32 leads
  // to while redirection is on.
  bool wow64 = st.version.windows_64 && !st.version.process_64;
  std::string own = wow64 ? st.windows_dir + "\\SysWOW64" : st.system_dir;
  if (SameFolder(folder, own)) {
    if (st.modules.count(key) != 0) return Found::kSystem;
  } else if (wow64 && SameFolder(folder, st.windows_dir + "\\System32") && st.modules.count(key) != 0) {
    // Reached with redirection off: the 64-bit DLL of the native folder.
    return Found::kWrongBitness;
  }
  FsNode* n = FsFind(full);
  return n != nullptr && !n->dir ? Found::kPlanted : Found::kNothing;
}

// The folders a name without a path is looked for in, in order: the tool's
// own folder first; the current folder before the system folders where safe
// DLL search mode is off by default (9x, 2000 and XP before its second
// service pack, which the presets stand for), after them elsewhere.
std::vector<std::string> SearchOrder() {
  State& st = S();
  const sim::VersionState& v = st.version;
  bool current_early = v.platform == VER_PLATFORM_WIN32_WINDOWS || v.major < 5 || (v.major == 5 && v.minor <= 1);
  std::vector<std::string> dirs = {st.exe_dir};
  if (current_early) dirs.push_back(st.current_dir);
  dirs.push_back(st.system_dir);
  dirs.push_back(st.windows_dir);
  if (!current_early) dirs.push_back(st.current_dir);
  return dirs;
}

HMODULE Load(const char* call, LPCSTR name, DWORD flags) {
  State& st = S();
  DWORD err = ERROR_MOD_NOT_FOUND;
  std::string key = name ? ModuleKey(name) : "";
  st.load_calls[key]++;
  sim::LibraryLoad record;
  record.call = call;
  record.name = name ? name : "(null)";
  record.flags = flags;
  bool fail = strcmp(call, "LoadLibraryA") == 0 ? Enter(call, err, "%s", Str(name).c_str())
                                                : Enter(call, err, "%s,0x%x", Str(name).c_str(), flags);
  if (fail || name == nullptr) {
    st.library_loads.push_back(record);
    if (!fail) st.last_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::string text = name;
  Found found = Found::kNothing;
  std::string full;
  if (text.find('\\') != std::string::npos || text.find(':') != std::string::npos) {
    full = Resolve(text);
    found = FindAt(full, key);
  } else if (LoadedAtStart(key) && st.modules.count(key) != 0) {
    found = Found::kSystem;
    full = "(loaded)";
  } else {
    for (const std::string& dir : SearchOrder()) {
      full = Resolve(dir + "\\" + text);
      found = FindAt(full, key);
      if (found != Found::kNothing) break;
    }
  }
  if (found == Found::kNothing || found == Found::kWrongBitness) {
    st.last_error = found == Found::kNothing ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
    st.library_loads.push_back(record);
    return nullptr;
  }
  record.loaded = full;
  record.planted = found == Found::kPlanted;
  st.library_loads.push_back(record);
  if (record.planted) {
    // Its DllMain has run by now; it exports nothing the tool knows.
    key = "PLANTED:" + Upper(full);
    st.modules[key].name = key;
  }
  st.loaded[key]++;
  return ModuleHandle(key);
}

}  // namespace

namespace sim {
const std::vector<LibraryLoad>& LibraryLoads() { return S().library_loads; }
void SetExeDir(const std::string& path) { S().exe_dir = path; }
}  // namespace sim

HMODULE LoadLibraryA(LPCSTR name) { return Load("LoadLibraryA", name, 0); }

HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  (void)file;
  return Load("LoadLibraryExA", name, flags);
}

BOOL FreeLibrary(HMODULE module) {
  DWORD err = ERROR_INVALID_HANDLE;
  const Module* m = ModuleOf(module);
  bool fail = Enter("FreeLibrary", err, "%s", m ? m->name.c_str() : "?");
  if (m == nullptr) {
    S().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  // A count below zero shows a library freed more often than it was loaded.
  S().loaded[m->name]--;
  return fail ? FALSE : TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  DWORD err = ERROR_PROC_NOT_FOUND;
  const Module* m = ModuleOf(module);
  if (Enter("GetProcAddress", err, "%s,%s", m ? m->name.c_str() : "?", Str(name).c_str())) return nullptr;
  if (m == nullptr || name == nullptr || m->exports.count(name) == 0) {
    S().last_error = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  return ProcByName(name);
}

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
DWORD GetLastError(void) { return S().last_error; }
void SetLastError(DWORD code) { S().last_error = code; }

// Time passes: started programs whose run is over end.
static void AdvanceClock(uint64_t to_ms) {
  S().now_ms = to_ms;
  ReleaseHolds();
  for (SimProcess& p : S().processes) {
    if (p.running && p.ends_at_ms != 0 && p.ends_at_ms <= to_ms) {
      p.running = false;
      p.exit_code = p.exit_code_at_end;
    }
  }
}

void Sleep(DWORD milliseconds) {
  DWORD err = 0;
  Enter("Sleep", err, "%u", milliseconds);
  AdvanceClock(S().now_ms + milliseconds);
}

void OutputDebugStringA(LPCSTR text) {
  DWORD err = 0;
  Enter("OutputDebugStringA", err, "%s", Str(text).c_str());
  if (text != nullptr) S().debug.push_back(text);
}

// ---------------------------------------------------------------- WOW64

BOOL IsWow64Process(HANDLE process, PBOOL wow64) {
  DWORD err = ERROR_INVALID_HANDLE;
  if (Enter("IsWow64Process", err, "%p", process)) return FALSE;
  const sim::VersionState& v = S().version;
  *wow64 = (v.windows_64 && !v.process_64) ? TRUE : FALSE;
  return TRUE;
}

void GetNativeSystemInfo(LPSYSTEM_INFO info) {
  DWORD err = 0;
  memset(info, 0, sizeof *info);
  if (Enter("GetNativeSystemInfo", err, "")) {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
    return;
  }
  info->wProcessorArchitecture = S().version.native_arch;
  info->dwPageSize = 4096;
  info->dwNumberOfProcessors = 2;
}

BOOL Wow64DisableWow64FsRedirection(PVOID* old_value) {
  DWORD err = ERROR_INVALID_FUNCTION;
  if (Enter("Wow64DisableWow64FsRedirection", err, "")) return FALSE;
  const sim::VersionState& v = S().version;
  // Only a WOW64 process has redirection to switch; elsewhere the call fails.
  if (!v.windows_64 || v.process_64) {
    S().last_error = ERROR_INVALID_FUNCTION;
    return FALSE;
  }
  *old_value = reinterpret_cast<PVOID>(static_cast<uintptr_t>(S().redirection_disabled ? 1 : 0));
  S().redirection_disabled = true;
  return TRUE;
}

BOOL Wow64RevertWow64FsRedirection(PVOID old_value) {
  DWORD err = ERROR_INVALID_FUNCTION;
  bool fail = Enter("Wow64RevertWow64FsRedirection", err, "%p", old_value);
  // Like the other calls that give something back, the switch is made even
  // when the call is made to report a failure.
  S().redirection_disabled = reinterpret_cast<uintptr_t>(old_value) != 0;
  return fail ? FALSE : TRUE;
}

namespace sim {
bool RedirectionDisabled() { return S().redirection_disabled; }
}  // namespace sim

// ---------------------------------------------------------------- console

HANDLE GetStdHandle(DWORD which) {
  DWORD err = ERROR_INVALID_HANDLE;
  if (Enter("GetStdHandle", err, "%d", static_cast<int>(which))) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x100 + (which & 0xff)));
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  DWORD err = ERROR_INVALID_HANDLE;
  if (Enter("GetConsoleMode", err, "%p", console)) return FALSE;
  if (!S().has_console || console == INVALID_HANDLE_VALUE || console == nullptr) {
    S().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  *mode = 0x1f7;
  return TRUE;
}

int _kbhit(void) {
  DWORD err = 0;
  if (Enter("_kbhit", err, "")) return 0;
  State& st = S();
  if (!st.keys.empty()) return 1;
  // A test that waits for a key it never queued would spin for ever.
  if (++st.key_polls > 100000) {
    fprintf(stderr, "simwin: _kbhit polled 100000 times with no key queued\n");
    abort();
  }
  return 0;
}

int _getch(void) {
  DWORD err = 0;
  Enter("_getch", err, "");
  State& st = S();
  if (st.keys.empty()) {
    fprintf(stderr, "simwin: _getch with no key queued\n");
    abort();
  }
  int k = st.keys.front();
  st.keys.pop_front();
  return k;
}

// ---------------------------------------------------------------- heaps

static HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7e0000));

HANDLE GetProcessHeap(void) {
  DWORD err = ERROR_INVALID_HANDLE;
  if (Enter("GetProcessHeap", err, "")) return nullptr;
  return kProcessHeap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  DWORD err = ERROR_NOT_ENOUGH_MEMORY;
  if (Enter("HeapAlloc", err, "flags=0x%x,bytes=%zu", flags, static_cast<size_t>(bytes))) return nullptr;
  if (heap != kProcessHeap) return nullptr;
  void* p = malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) return nullptr;
  // Without HEAP_ZERO_MEMORY the block holds garbage, as on Windows.
  memset(p, (flags & HEAP_ZERO_MEMORY) ? 0 : 0xbd, bytes == 0 ? 1 : bytes);
  S().heap_blocks.insert(p);
  return p;
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
  DWORD err = ERROR_INVALID_PARAMETER;
  bool fail = Enter("HeapFree", err, "flags=0x%x,%p", flags, block);
  if (heap != kProcessHeap || S().heap_blocks.erase(block) == 0) {
    fprintf(stderr, "simwin: HeapFree of a block that is not a live heap block\n");
    abort();
  }
  free(block);
  return fail ? FALSE : TRUE;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  DWORD err = ERROR_NOT_ENOUGH_MEMORY;
  if (Enter("LocalAlloc", err, "flags=0x%x,bytes=%zu", flags, static_cast<size_t>(bytes))) return nullptr;
  void* p = malloc(bytes == 0 ? 1 : bytes);
  memset(p, (flags & LMEM_ZEROINIT) ? 0 : 0xbd, bytes == 0 ? 1 : bytes);
  S().local_blocks.insert(p);
  return p;
}

HLOCAL LocalFree(HLOCAL block) {
  DWORD err = ERROR_INVALID_HANDLE;
  Enter("LocalFree", err, "%p", block);
  if (block == nullptr) return nullptr;
  if (S().local_blocks.erase(block) == 0) {
    fprintf(stderr, "simwin: LocalFree of a block that is not a live local block\n");
    abort();
  }
  free(block);
  return nullptr;
}

// ---------------------------------------------------------------- formatting

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  DWORD err = 0;
  Enter("wsprintfA", err, "%s", Str(format).c_str());
  // wsprintfA writes at most 1024 bytes; the tool never formats more.
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(out, 1024, format, ap);
  va_end(ap);
  return n;
}

// ---------------------------------------------------------------- kernel handles

BOOL CloseHandle(HANDLE handle) {
  DWORD err = ERROR_INVALID_HANDLE;
  bool fail = Enter("CloseHandle", err, "%p", handle);
  auto it = S().handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == S().handles.end()) {
    S().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  KernelObject closed = it->second;
  S().handles.erase(it);
  FileHandleClosed(closed);
  return fail ? FALSE : TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  DWORD err = ERROR_INVALID_HANDLE;
  if (Enter("WaitForSingleObject", err, "%p,%u", handle, milliseconds)) return WAIT_FAILED;
  KernelObject* o = FindHandle(handle);
  SimProcess* p = o && o->kind == KernelObject::kProcess ? ProcessOf(*o) : nullptr;
  if (p == nullptr) {
    S().last_error = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  if (p->running) {
    bool ends = p->ends_at_ms != 0;
    if (ends && (milliseconds == INFINITE || S().now_ms + milliseconds >= p->ends_at_ms)) {
      AdvanceClock(p->ends_at_ms);
      return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE) {
      fprintf(stderr, "simwin: WaitForSingleObject would wait for ever on process %u\n", p->pid);
      abort();
    }
    AdvanceClock(S().now_ms + milliseconds);
    return 0x102;  // WAIT_TIMEOUT
  }
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
  DWORD err = ERROR_INVALID_HANDLE;
  if (Enter("GetExitCodeProcess", err, "%p", process)) return FALSE;
  KernelObject* o = FindHandle(process);
  SimProcess* p = o && o->kind == KernelObject::kProcess ? ProcessOf(*o) : nullptr;
  if (p == nullptr) {
    S().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  *exit_code = p->running ? STILL_ACTIVE : p->exit_code;
  return TRUE;
}

namespace sim {
size_t OpenKernelHandles() { return S().handles.size(); }
}  // namespace sim
