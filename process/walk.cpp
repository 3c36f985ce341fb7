#include "process/walk.h"

#include "common/library.h"
#include "common/owners.h"
#include "common/text.h"

namespace {

// Shapes of the entry points looked up by name; their headers (psapi.h,
// vdmdbg.h) are not part of the seam.
typedef BOOL(WINAPI* EnumProcessesFn)(DWORD* ids, DWORD bytes, DWORD* filled);
typedef BOOL(WINAPI* TaskCallbackFn)(DWORD thread_id, WORD module16, WORD task16, PSTR module_name,
                                     PSTR file_name, LPARAM user);
typedef INT(WINAPI* VdmEnumTaskWowExFn)(DWORD pid, TaskCallbackFn callback, LPARAM user);
typedef HANDLE(WINAPI* CreateSnapshotFn)(DWORD flags, DWORD pid);
typedef BOOL(WINAPI* Process32Fn)(HANDLE snapshot, PROCESSENTRY32* entry);

// Toolhelp checks dwSize; Windows 98 knows only the record of the 32-bit SDK.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32) == 296,
              "PROCESSENTRY32 must have the 32-bit SDK layout");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA must have the SDK layout");

const DWORD kFirstIdListBytes = 1024;

// Reads the executable path of one process into path (MAX_PATH bytes); leaves
// it empty when the process or its main module cannot be read.
void ReadMainModulePath(DWORD pid, const ProcessPathReader& reader, char* path) {
  path[0] = '\0';
  ScopedKernelHandle process(OpenProcess(kProcessPathRights, FALSE, pid));
  if (process.Valid()) reader.Read(process.Get(), path);
}

bool WalkNt(ProcessVisitor visitor, ULONG_PTR data) {
  // Declared in reverse so that they go in the order PSAPI, VDMDBG, id list.
  ScopedHeapBlock id_list;
  ScopedLibrary vdmdbg;
  ScopedLibrary psapi;

  psapi.Reset(LoadSystemLibrary("PSAPI.DLL"));
  if (!psapi.Valid()) return true;
  vdmdbg.Reset(LoadSystemLibrary("VDMDBG.DLL"));
  if (!vdmdbg.Valid()) return true;

  auto enum_processes = BindProc<EnumProcessesFn>(psapi.Get(), "EnumProcesses");
  ProcessPathReader reader(psapi.Get());
  auto enum_tasks = BindProc<VdmEnumTaskWowExFn>(vdmdbg.Get(), "VDMEnumTaskWOWEx");
  if (enum_processes == nullptr || !reader.CanRead() || enum_tasks == nullptr) return true;

  HANDLE heap = GetProcessHeap();
  if (heap == nullptr) return true;
  // EnumProcesses does not say how many ids it left out: a full buffer may
  // have been cut short, so read again into a larger one.
  DWORD bytes = kFirstIdListBytes;
  DWORD filled = 0;
  for (;;) {
    if (id_list.Get() != nullptr) {
      id_list.Reset();
      if (bytes > 0x7FFFFFFFu) return true;
      bytes *= 2;
    }
    void* block = HeapAlloc(heap, 0, bytes);
    if (block == nullptr) return true;
    id_list.Reset(heap, block);
    if (!enum_processes(static_cast<DWORD*>(block), bytes, &filled)) return true;
    if (filled != bytes) break;
  }
  if (filled > bytes) filled = bytes;

  const DWORD* ids = static_cast<const DWORD*>(id_list.Get());
  const DWORD count = filled / sizeof(DWORD);
  char path[MAX_PATH];
  for (DWORD i = 0; i < count; ++i) {
    const DWORD pid = ids[i];
    ReadMainModulePath(pid, reader, path);
    if (!visitor(pid, 0, path, data)) return true;
    // Only a bare "NTVDM.EXE" marks a host; 16-bit tasks run only there.
    if (EqualsAsciiNoCase(path, "NTVDM.EXE")) {
      TaskWalkContext context = {pid, visitor, data, FALSE};
      enum_tasks(pid, &OnWowTask, reinterpret_cast<LPARAM>(&context));
      if (context.ended) return true;
    }
  }
  return true;
}

bool Walk9x(ProcessVisitor visitor, ULONG_PTR data) {
  // The exe imports kernel32: a bare name gets the module already loaded.
  ScopedLibrary kernel(LoadLibraryA("Kernel32.DLL"));
  if (!kernel.Valid()) return true;
  auto create_snapshot = BindProc<CreateSnapshotFn>(kernel.Get(), "CreateToolhelp32Snapshot");
  auto process_first = BindProc<Process32Fn>(kernel.Get(), "Process32First");
  auto process_next = BindProc<Process32Fn>(kernel.Get(), "Process32Next");
  if (create_snapshot == nullptr || process_first == nullptr || process_next == nullptr) return true;

  ScopedSnapshot snapshot(create_snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return false;

  PROCESSENTRY32 entry;
  memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  BOOL more = process_first(snapshot.Get(), &entry);
  while (more) {
    entry.szExeFile[MAX_PATH - 1] = '\0';
    if (!visitor(entry.th32ProcessID, 0, entry.szExeFile, data)) break;
    // Toolhelp checks dwSize on every call, not only on the first.
    entry.dwSize = sizeof entry;
    more = process_next(snapshot.Get(), &entry);
  }
  return true;
}

}  // namespace

ProcessPathReader::ProcessPathReader(HMODULE psapi)
    : enum_modules_(BindProc<EnumProcessModulesFn>(psapi, "EnumProcessModules")),
      module_file_name_(BindProc<GetModuleFileNameExWFn>(psapi, "GetModuleFileNameExW")),
      query_image_name_(
          BindProc<QueryFullProcessImageNameWFn>(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW")) {}

bool ProcessPathReader::ReadWide(HANDLE process, WCHAR* path) const {
  path[0] = 0;
  HMODULE module = nullptr;
  DWORD needed = 0;
  if (enum_modules_(process, &module, sizeof(module), &needed)) {
    DWORD length = module_file_name_(process, module, path, MAX_PATH);
    path[MAX_PATH - 1] = 0;
    // Windows XP cuts a long path without a NUL and returns the buffer size.
    if (length != 0 && length < MAX_PATH) return true;
    path[0] = 0;
    if (length != 0 || GetLastError() == 0) SetLastError(length != 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_PARTIAL_COPY);
    return false;
  }
  // A 32-bit program cannot list a 64-bit process's modules; Vista and later
  // give the image's path from the kernel's record of the process.
  DWORD error = GetLastError();
  if (error != ERROR_PARTIAL_COPY || query_image_name_ == nullptr) {
    if (error == 0) SetLastError(ERROR_PARTIAL_COPY);
    return false;
  }
  DWORD size = MAX_PATH;
  if (query_image_name_(process, 0, path, &size) && size < MAX_PATH) return true;
  path[0] = 0;
  if (GetLastError() == 0) SetLastError(ERROR_PARTIAL_COPY);
  return false;
}

bool ProcessPathReader::Read(HANDLE process, char* path) const {
  path[0] = '\0';
  if (!CanRead()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  WCHAR wide[MAX_PATH];
  if (!ReadWide(process, wide)) return false;
  // WC_NO_BEST_FIT_CHARS puts the default character wherever the way back
  // would not give the same character (Microsoft's page of
  // WideCharToMultiByte); a path that needs it names no file exactly.
  BOOL lossy = FALSE;
  int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, MAX_PATH, nullptr, &lossy);
  if (bytes > 0 && !lossy) return true;
  path[0] = '\0';
  DWORD error = bytes > 0 ? ERROR_NO_UNICODE_TRANSLATION : GetLastError();
  SetLastError(error != 0 ? error : ERROR_INSUFFICIENT_BUFFER);
  return false;
}

BOOL WINAPI OnWowTask(DWORD thread_id, WORD module16, WORD task16, PSTR module_name,
                      PSTR file_name, LPARAM user) {
  (void)thread_id;
  (void)module16;
  (void)module_name;
  TaskWalkContext* context = reinterpret_cast<TaskWalkContext*>(user);
  if (!context->visitor(context->pid, task16, file_name != nullptr ? file_name : "", context->data)) {
    context->ended = TRUE;
    return TRUE;
  }
  return FALSE;
}

bool WalkProcesses(ProcessVisitor visitor, ULONG_PTR data) {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return false;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 4)
    return WalkNt(visitor, data);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return Walk9x(visitor, data);
  return false;
}
