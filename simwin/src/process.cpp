// Simulated processes, version resources and system message texts.
#include "simwin/machine_process.h"
#include "state.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace detail {

constexpr DWORD kNoMoreFiles = 18;            // ERROR_NO_MORE_FILES
constexpr DWORD kBadLength = 24;              // ERROR_BAD_LENGTH
constexpr DWORD kMessageNotFound = 317;       // ERROR_MR_MID_NOT_FOUND
constexpr DWORD kResourceTypeNotFound = 1813; // ERROR_RESOURCE_TYPE_NOT_FOUND

static std::map<DWORD, std::string>& MessageTexts() {
  static std::map<DWORD, std::string>* texts = new std::map<DWORD, std::string>();
  return *texts;
}

void ResetProcesses() {
  std::map<DWORD, std::string>& t = MessageTexts();
  t.clear();
  t[ERROR_FILE_NOT_FOUND] = "The system cannot find the file specified.\r\n";
  t[ERROR_ACCESS_DENIED] = "Access is denied.\r\n";
  t[ERROR_INVALID_HANDLE] = "The handle is invalid.\r\n";
  t[ERROR_INVALID_PARAMETER] = "The parameter is incorrect.\r\n";
  t[ERROR_PARTIAL_COPY] =
      "Only part of a ReadProcessMemory or WriteProcessMemory request was completed.\r\n";
}

// ------------------------------------------------------------ version block
// The simulated version library's own serialisation (not the PE layout):
//   "SIMV", u32 total size, u32 has list, u32 entry count, entries (u16 lang,
//   u16 code page), u32 table count, then per table u16 lang, u16 code page,
//   u32 string count, and per string u32 name size, name + NUL, u32 reported
//   length, u32 value size, value + NUL.
// VerQueryValueA hands out pointers into the caller's copy of these bytes.
static void Put32(std::vector<uint8_t>& b, uint32_t v) {
  uint8_t raw[4];
  memcpy(raw, &v, 4);
  b.insert(b.end(), raw, raw + 4);
}
static void Put16(std::vector<uint8_t>& b, uint16_t v) {
  uint8_t raw[2];
  memcpy(raw, &v, 2);
  b.insert(b.end(), raw, raw + 2);
}
static void PutText(std::vector<uint8_t>& b, const std::string& s) {
  Put32(b, static_cast<uint32_t>(s.size() + 1));
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}

static std::vector<uint8_t> Serialise(const VersionResource& r) {
  std::vector<uint8_t> b = {'S', 'I', 'M', 'V'};
  Put32(b, 0);
  Put32(b, r.has_translation_list ? 1 : 0);
  Put32(b, static_cast<uint32_t>(r.translations.size()));
  for (const auto& t : r.translations) {
    Put16(b, t.first);
    Put16(b, t.second);
  }
  Put32(b, static_cast<uint32_t>(r.tables.size()));
  for (const VersionStringTable& t : r.tables) {
    Put16(b, t.language);
    Put16(b, t.code_page);
    Put32(b, static_cast<uint32_t>(t.strings.size()));
    for (const auto& s : t.strings) {
      PutText(b, s.first);
      // Windows reports a string's length in characters with its NUL; an
      // empty value has length 0.
      Put32(b, s.second.empty() ? 0 : static_cast<uint32_t>(s.second.size() + 1));
      PutText(b, s.second);
    }
  }
  uint32_t total = static_cast<uint32_t>(b.size());
  memcpy(b.data() + 4, &total, 4);
  return b;
}

// Reads the block field by field, never beyond its recorded size.
class BlockReader {
 public:
  BlockReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool U32(uint32_t* v) { return Take(v, 4); }
  bool U16(uint16_t* v) { return Take(v, 2); }
  // A NUL-terminated text of recorded size; gives a pointer into the block.
  bool Text(const char** text, uint32_t* bytes) {
    uint32_t n = 0;
    if (!U32(&n) || n == 0 || n > size_ - pos_) return false;
    *text = reinterpret_cast<const char*>(data_ + pos_);
    *bytes = n;
    pos_ += n;
    return true;
  }
  const uint8_t* Here() const { return data_ + pos_; }
  bool Skip(size_t n) {
    if (n > size_ - pos_) return false;
    pos_ += n;
    return true;
  }

 private:
  bool Take(void* v, size_t n) {
    if (n > size_ - pos_) return false;
    memcpy(v, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

static bool ParseHex4(const std::string& s, size_t at, WORD* out) {
  unsigned v = 0;
  for (size_t i = at; i < at + 4; ++i) {
    char c = s[i];
    int d = (c >= '0' && c <= '9') ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (d < 0) return false;
    v = v * 16 + static_cast<unsigned>(d);
  }
  *out = static_cast<WORD>(v);
  return true;
}

static bool QueryBlock(const uint8_t* block, const std::vector<std::string>& parts, LPVOID* buffer,
                       PUINT length) {
  if (memcmp(block, "SIMV", 4) != 0) return false;
  uint32_t total = 0;
  memcpy(&total, block + 4, 4);
  BlockReader r(block, total);
  uint32_t has_list = 0, entries = 0;
  if (!r.Skip(8) || !r.U32(&has_list) || !r.U32(&entries)) return false;
  const uint8_t* list = r.Here();
  if (!r.Skip(static_cast<size_t>(entries) * 4)) return false;
  if (parts.size() == 2 && Upper(parts[0]) == "VARFILEINFO" && Upper(parts[1]) == "TRANSLATION") {
    if (!has_list) return false;
    *buffer = const_cast<uint8_t*>(list);
    *length = entries * 4;
    return true;
  }
  if (parts.size() != 3 || Upper(parts[0]) != "STRINGFILEINFO" || parts[1].size() != 8) return false;
  WORD want_lang = 0, want_cp = 0;
  if (!ParseHex4(parts[1], 0, &want_lang) || !ParseHex4(parts[1], 4, &want_cp)) return false;
  std::string want_name = Upper(parts[2]);
  uint32_t tables = 0;
  if (!r.U32(&tables)) return false;
  for (uint32_t t = 0; t < tables; ++t) {
    uint16_t lang = 0, cp = 0;
    uint32_t strings = 0;
    if (!r.U16(&lang) || !r.U16(&cp) || !r.U32(&strings)) return false;
    for (uint32_t s = 0; s < strings; ++s) {
      const char* name = nullptr;
      const char* value = nullptr;
      uint32_t name_bytes = 0, value_bytes = 0, reported = 0;
      if (!r.Text(&name, &name_bytes) || !r.U32(&reported) || !r.Text(&value, &value_bytes))
        return false;
      if (lang == want_lang && cp == want_cp && Upper(std::string(name, name_bytes - 1)) == want_name) {
        *buffer = const_cast<char*>(value);
        *length = reported;
        return true;
      }
    }
  }
  return false;
}

// The version library takes an ANSI path as every "A" call does: turned into
// the Unicode name through the ANSI code page (GetFileVersionInfoSizeA hands
// it on to GetFileVersionInfoSizeW on the NT family).
static FsNode* FileNode(LPCSTR path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  FsNode* n = FsFind(Resolve(AnsiToUtf8(path)));
  return n != nullptr && !n->dir ? n : nullptr;
}

// need_any: the handle must hold at least one of these rights as well.
static SimProcess* ProcessOfHandle(HANDLE handle, DWORD need_access, DWORD need_any = 0) {
  KernelObject* o = FindHandle(handle);
  if (o == nullptr || o->kind != KernelObject::kProcess) {
    S().last_error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if ((o->access & need_access) != need_access || (need_any != 0 && (o->access & need_any) == 0)) {
    S().last_error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  SimProcess* p = ProcessOf(*o);
  if (p == nullptr) S().last_error = ERROR_INVALID_HANDLE;
  return p;
}

// Module handles the simulated processes report: the executable first.
static HMODULE const kExeModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
static HMODULE const kOtherModules[] = {
    reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7c900000)),
    reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7c800000)),
};

}  // namespace detail

using namespace detail;

VersionResource MakerVersion(const std::string& company, WORD language, WORD code_page) {
  VersionResource r;
  r.translations = {{language, code_page}};
  VersionStringTable t;
  t.language = language;
  t.code_page = code_page;
  t.strings = {{"CompanyName", company}, {"FileDescription", "Program"}, {"FileVersion", "1, 0, 0, 1"}};
  r.tables = {t};
  return r;
}

void SetVersionResource(const std::string& path, const VersionResource& resource) {
  if (!Exists(path)) MkFile(path);
  FsNode* n = FsFind(path);
  if (n == nullptr) abort();
  n->version_block = Serialise(resource);
}

// An id is free again once its process has ended and no handle refers to
// it: Windows keeps the process object (and its id) while a handle is open.
static bool IdHeld(DWORD pid) {
  for (const SimProcess& p : S().processes) {
    if (p.pid != pid) continue;
    if (p.running) return true;
    for (const auto& h : S().handles)
      if (h.second.kind == KernelObject::kProcess && p.serial != 0 && h.second.process == p.serial) return true;
  }
  return false;
}

DWORD AddProcess(const PlantedProcess& planted) {
  State& st = S();
  SimProcess p;
  if (planted.pid == kNextPid) {
    while (FindProcess(st.next_pid) != nullptr) st.next_pid += 4;
    p.pid = st.next_pid;
    st.next_pid += 4;
  } else {
    p.pid = planted.pid;
    if (IdHeld(p.pid)) {
      fprintf(stderr, "simwin: process id %u is still in use\n", p.pid);
      abort();
    }
    std::vector<SimProcess>& all = st.processes;
    for (size_t i = all.size(); i-- > 0;)
      if (all[i].pid == p.pid) all.erase(all.begin() + static_cast<std::ptrdiff_t>(i));
  }
  p.serial = st.next_process_serial++;
  p.is_64 = planted.is_64 && st.version.windows_64;
  p.path = planted.path;
  p.exe_name = planted.exe_name.empty() ? planted.path : planted.exe_name;
  p.can_open = planted.can_open;
  p.denied_access = planted.denied_access;
  p.open_error = planted.open_error;
  p.modules_readable = planted.modules_readable;
  p.can_terminate = planted.can_terminate;
  p.terminate_error = planted.terminate_error;
  for (const auto& t : planted.tasks) p.tasks.push_back({t.first, t.second});
  st.processes.push_back(p);
  return p.pid;
}

DWORD AddProcess(const std::string& path) {
  PlantedProcess planted;
  planted.path = path;
  return AddProcess(planted);
}

void EndProcess(DWORD pid, DWORD exit_code) {
  SimProcess* p = FindProcess(pid);
  if (p == nullptr || !p->running) return;
  p->running = false;
  p->exit_code = exit_code;
}

void SetDriveType(char drive, UINT type) {
  S().drive_types[static_cast<char>(toupper(static_cast<unsigned char>(drive)))] = type;
}

bool IsRunning(DWORD pid) {
  const SimProcess* p = FindProcess(pid);
  return p != nullptr && p->running;
}

DWORD ProcessExitCode(DWORD pid) {
  const SimProcess* p = FindProcess(pid);
  return p == nullptr || p->running ? STILL_ACTIVE : p->exit_code;
}

void SetMessageText(DWORD code, const std::string& text) { MessageTexts()[code] = text; }
void RemoveMessageText(DWORD code) { MessageTexts().erase(code); }

}  // namespace sim

using namespace sim::detail;

HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("OpenProcess", err, "0x%x,%d,%u", access, inherit, pid)) return nullptr;
  SimProcess* p = FindProcess(pid);
  if (p == nullptr || !p->running) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  if (!p->can_open || (access & p->denied_access) != 0) {
    S().last_error = p->open_error;
    return nullptr;
  }
  const sim::VersionState& v = S().version;
  bool vista = v.platform == VER_PLATFORM_WIN32_NT && v.major >= 6;
  // The limited query right came with Vista, which grants it with the full one.
  if ((access & PROCESS_QUERY_LIMITED_INFORMATION) && !vista) {
    S().last_error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if ((access & PROCESS_QUERY_INFORMATION) && vista) access |= PROCESS_QUERY_LIMITED_INFORMATION;
  KernelObject o;
  o.kind = KernelObject::kProcess;
  o.pid = pid;
  o.process = p->serial;
  o.access = access;
  return NewHandle(o);
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("TerminateProcess", err, "%p,%u", process, exit_code)) return FALSE;
  SimProcess* p = ProcessOfHandle(process, PROCESS_TERMINATE);
  if (p == nullptr) return FALSE;
  // Windows refuses to terminate a process that has already ended.
  if (!p->running || !p->can_terminate) {
    S().last_error = p->running ? p->terminate_error : ERROR_ACCESS_DENIED;
    return FALSE;
  }
  p->running = false;
  p->exit_code = exit_code;
  return TRUE;
}

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments) {
  DWORD err = ERROR_NOT_ENOUGH_MEMORY;
  (void)arguments;
  if (Enter("FormatMessageA", err, "0x%x,%p,%u,0x%x,%u", flags, source, message_id, language_id, size))
    return 0;
  auto it = MessageTexts().find(message_id);
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || buffer == nullptr || it == MessageTexts().end()) {
    S().last_error = kMessageNotFound;
    return 0;
  }
  const std::string& text = it->second;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    size_t bytes = text.size() + 1 > size ? text.size() + 1 : size;
    // Allocated as LocalAlloc would, so that the caller's LocalFree balances.
    char* block = static_cast<char*>(malloc(bytes));
    memset(block, 0, bytes);
    memcpy(block, text.c_str(), text.size() + 1);
    S().local_blocks.insert(block);
    *reinterpret_cast<char**>(buffer) = block;
  } else {
    if (size < text.size() + 1) {
      S().last_error = ERROR_INSUFFICIENT_BUFFER;
      return 0;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
  }
  return static_cast<DWORD>(text.size());
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD pid) {
  DWORD err = ERROR_NOT_ENOUGH_MEMORY;
  if (Enter("CreateToolhelp32Snapshot", err, "0x%x,%u", flags, pid)) return INVALID_HANDLE_VALUE;
  KernelObject o;
  o.kind = KernelObject::kSnapshot;
  if (flags & TH32CS_SNAPPROCESS)
    for (const SimProcess& p : S().processes)
      if (p.running) o.snapshot.push_back(p.pid);
  return NewHandle(o);
}

static BOOL SnapshotEntry(HANDLE snapshot, LPPROCESSENTRY32 entry, bool first) {
  KernelObject* o = FindHandle(snapshot);
  if (o == nullptr || o->kind != KernelObject::kSnapshot || entry == nullptr) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  if (entry->dwSize != sizeof(PROCESSENTRY32)) {
    S().last_error = kBadLength;
    return FALSE;
  }
  if (first) o->cursor = 0;
  // A process that ended after the snapshot is still reported from it.
  while (o->cursor < o->snapshot.size() && FindProcess(o->snapshot[o->cursor]) == nullptr) ++o->cursor;
  if (o->cursor >= o->snapshot.size()) {
    S().last_error = kNoMoreFiles;
    return FALSE;
  }
  const SimProcess* p = FindProcess(o->snapshot[o->cursor++]);
  entry->cntUsage = 0;
  entry->th32ProcessID = p->pid;
  entry->th32DefaultHeapID = 0;
  entry->th32ModuleID = 0;
  entry->cntThreads = 1;
  entry->th32ParentProcessID = 0;
  entry->pcPriClassBase = 8;
  entry->dwFlags = 0;
  // Windows 98 keeps ANSI names; the simulated machine keeps them in UTF-8.
  std::string exe = Utf8ToAnsi(p->exe_name);
  size_t n = exe.size() < MAX_PATH - 1 ? exe.size() : MAX_PATH - 1;
  memcpy(entry->szExeFile, exe.data(), n);
  entry->szExeFile[n] = '\0';
  return TRUE;
}

BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  DWORD err = kNoMoreFiles;
  if (Enter("Process32First", err, "%p,size=%u", snapshot, entry ? entry->dwSize : 0)) return FALSE;
  return SnapshotEntry(snapshot, entry, true);
}

BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  DWORD err = kNoMoreFiles;
  if (Enter("Process32Next", err, "%p,size=%u", snapshot, entry ? entry->dwSize : 0)) return FALSE;
  return SnapshotEntry(snapshot, entry, false);
}

BOOL EnumProcesses(DWORD* ids, DWORD bytes, LPDWORD filled) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("EnumProcesses", err, "bytes=%u", bytes)) return FALSE;
  if (ids == nullptr || filled == nullptr) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  // Like Windows: as many ids as fit, and no word of how many were left out.
  DWORD room = bytes / sizeof(DWORD);
  DWORD n = 0;
  for (const SimProcess& p : S().processes) {
    if (!p.running) continue;
    if (n == room) break;
    ids[n++] = p.pid;
  }
  *filled = n * static_cast<DWORD>(sizeof(DWORD));
  return TRUE;
}

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, LPDWORD needed) {
  DWORD err = ERROR_PARTIAL_COPY;
  if (Enter("EnumProcessModules", err, "%p,bytes=%u", process, bytes)) return FALSE;
  const SimProcess* p = ProcessOfHandle(process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (p == nullptr) return FALSE;
  // A 32-bit program cannot read a 64-bit process's module list (the
  // documentation of EnumProcessModules names ERROR_PARTIAL_COPY).
  if (!p->modules_readable || !p->running || (p->is_64 && !S().version.process_64)) {
    S().last_error = ERROR_PARTIAL_COPY;
    return FALSE;
  }
  const DWORD count = 3;
  DWORD room = bytes / static_cast<DWORD>(sizeof(HMODULE));
  for (DWORD i = 0; i < count && i < room; ++i) modules[i] = i == 0 ? kExeModule : kOtherModules[i - 1];
  if (needed != nullptr) *needed = count * static_cast<DWORD>(sizeof(HMODULE));
  return TRUE;
}

// The main module's path of a process the handle may read, or null with the
// error set.
static const SimProcess* ModulePathOwner(HANDLE process, HMODULE module) {
  const SimProcess* p = ProcessOfHandle(process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (p == nullptr) return nullptr;
  if (module != kExeModule && module != nullptr) {
    S().last_error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (p->path.empty() || !p->modules_readable || (p->is_64 && !S().version.process_64)) {
    S().last_error = ERROR_PARTIAL_COPY;
    return nullptr;
  }
  return p;
}

// Windows XP cuts a long path to `size` characters without a NUL and reports
// `size`.
template <typename Char, typename Text>
static DWORD CopyModulePath(const Text& path, Char* name, DWORD size) {
  if (name == nullptr || size == 0) {
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  if (path.size() >= size) {
    memcpy(name, path.data(), size * sizeof(Char));
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  memcpy(name, path.c_str(), (path.size() + 1) * sizeof(Char));
  return static_cast<DWORD>(path.size());
}

// The "A" form is the Unicode path in the ANSI code page, best fit where the
// code page lacks a character, as every "A" call hands out names.
DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
  DWORD err = ERROR_PARTIAL_COPY;
  if (Enter("GetModuleFileNameExA", err, "%p,%p,size=%u", process, static_cast<void*>(module), size))
    return 0;
  const SimProcess* p = ModulePathOwner(process, module);
  return p == nullptr ? 0 : CopyModulePath(Utf8ToAnsi(p->path), name, size);
}

DWORD GetModuleFileNameExW(HANDLE process, HMODULE module, LPWSTR name, DWORD size) {
  DWORD err = ERROR_PARTIAL_COPY;
  if (Enter("GetModuleFileNameExW", err, "%p,%p,size=%u", process, static_cast<void*>(module), size))
    return 0;
  const SimProcess* p = ModulePathOwner(process, module);
  return p == nullptr ? 0 : CopyModulePath(Utf8ToUtf16(p->path), name, size);
}

// The kernel keeps the image's name for the process object's whole life,
// whatever its bitness; the simulated processes with no readable path (the
// idle and system processes) have none to give.
static const SimProcess* ImageNameOwner(HANDLE process, DWORD flags) {
  const SimProcess* p = ProcessOfHandle(process, 0, PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION);
  if (p == nullptr) return nullptr;
  if (p->path.empty() || flags != 0) {
    S().last_error = p->path.empty() ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  return p;
}

template <typename Char, typename Text>
static BOOL CopyImageName(const Text& path, Char* name, PDWORD size) {
  if (name == nullptr || size == nullptr || path.size() + 1 > *size) {
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  memcpy(name, path.c_str(), (path.size() + 1) * sizeof(Char));
  *size = static_cast<DWORD>(path.size());
  return TRUE;
}

BOOL QueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, PDWORD size) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("QueryFullProcessImageNameA", err, "%p,%u,size=%u", process, flags, size ? *size : 0)) return FALSE;
  const SimProcess* p = ImageNameOwner(process, flags);
  return p == nullptr ? FALSE : CopyImageName(Utf8ToAnsi(p->path), name, size);
}

BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, PDWORD size) {
  DWORD err = ERROR_ACCESS_DENIED;
  if (Enter("QueryFullProcessImageNameW", err, "%p,%u,size=%u", process, flags, size ? *size : 0)) return FALSE;
  const SimProcess* p = ImageNameOwner(process, flags);
  return p == nullptr ? FALSE : CopyImageName(Utf8ToUtf16(p->path), name, size);
}

UINT GetDriveTypeA(LPCSTR root) {
  DWORD err = 0;
  if (Enter("GetDriveTypeA", err, "%s", Str(root).c_str())) return DRIVE_UNKNOWN;
  // Only a root of the form "X:\\" is asked about; a UNC root is a remote one.
  if (root != nullptr && root[0] == '\\' && root[1] == '\\') return DRIVE_REMOTE;
  if (root == nullptr || root[0] == '\0' || root[1] != ':' || root[2] != '\\' || root[3] != '\0')
    return DRIVE_NO_ROOT_DIR;
  char drive = static_cast<char>(toupper(static_cast<unsigned char>(root[0])));
  if (S().volumes.count(drive) == 0) return DRIVE_NO_ROOT_DIR;
  auto it = S().drive_types.find(drive);
  return it == S().drive_types.end() ? DRIVE_FIXED : it->second;
}

INT VDMEnumTaskWOWEx(DWORD pid, TASKENUMPROCEX callback, LPARAM user) {
  DWORD err = 0;
  if (Enter("VDMEnumTaskWOWEx", err, "%u", pid)) return 0;
  const SimProcess* p = FindProcess(pid);
  if (p == nullptr || callback == nullptr) return 0;
  std::vector<SimProcess::Task> tasks = p->tasks;  // the callback may change the table
  INT count = 0;
  for (size_t i = 0; i < tasks.size(); ++i) {
    std::string file = tasks[i].file;
    size_t slash = file.find_last_of('\\');
    std::string module = Upper(slash == std::string::npos ? file : file.substr(slash + 1));
    size_t dot = module.find('.');
    if (dot != std::string::npos) module.resize(dot);
    ++count;
    WORD module16 = static_cast<WORD>(0x1000 + 8 * i);
    if (callback(0x500 + static_cast<DWORD>(i), module16, tasks[i].task, &module[0], &file[0], user))
      break;
  }
  return count;
}

DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  DWORD err = kResourceTypeNotFound;
  if (handle != nullptr) *handle = 0;
  if (Enter("GetFileVersionInfoSizeA", err, "%s", Str(path).c_str())) return 0;
  FsNode* n = FileNode(path);
  if (n == nullptr) {
    S().last_error = ERROR_FILE_NOT_FOUND;
    return 0;
  }
  if (n->version_block.empty()) {
    S().last_error = kResourceTypeNotFound;
    return 0;
  }
  return static_cast<DWORD>(n->version_block.size());
}

BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID data) {
  DWORD err = kResourceTypeNotFound;
  if (Enter("GetFileVersionInfoA", err, "%s,%u,%u", Str(path).c_str(), handle, size)) return FALSE;
  FsNode* n = FileNode(path);
  if (n == nullptr) {
    S().last_error = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  if (n->version_block.empty()) {
    S().last_error = kResourceTypeNotFound;
    return FALSE;
  }
  // A short buffer would leave a block that VerQueryValueA cannot walk.
  if (data == nullptr || size < n->version_block.size()) {
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  memcpy(data, n->version_block.data(), n->version_block.size());
  return TRUE;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, PUINT length) {
  DWORD err = 0;
  if (Enter("VerQueryValueA", err, "%p,%s", block, Str(sub_block).c_str())) return FALSE;
  if (block == nullptr || sub_block == nullptr || buffer == nullptr || length == nullptr) return FALSE;
  // The root "\\" (the fixed file info) is not modelled: the tool never asks.
  return QueryBlock(static_cast<const uint8_t*>(block), SplitPath(sub_block), buffer, length) ? TRUE
                                                                                              : FALSE;
}
