#include "probes/probes.h"

#include "common/owners.h"
#include "common/text.h"
#include "regops/primitives.h"

const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
const char kCordaValeFolder[] = "Corda Vale\\KOBR_SE";
const char kOrvaFolder[] = "ORVA\\GX_LT";

namespace {

const char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool UsesPerUserFolders(int generation) { return generation == 1 || generation == 2; }

// The system directory joined with an applet's file name.
void BuildSystemFilePath(const char* file, char* out) {
  if (out == nullptr) return;
  out[0] = '\0';
  char dir[MAX_PATH];
  memset(dir, 0, sizeof dir);
  UINT len = GetSystemDirectoryA(dir, MAX_PATH - 1);
  if (len == 0 || len >= MAX_PATH - 1) return;
  JoinPath(out, kPathSize, dir, file);
}

}  // namespace

int GetWindowsGeneration() {
  OSVERSIONINFOEXA info;
  memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  OSVERSIONINFOA* basic = reinterpret_cast<OSVERSIONINFOA*>(&info);
  if (!GetVersionExA(basic)) {
    // Systems before Windows 2000 only know the basic record.
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(basic)) return 0;
  }
  DWORD platform = info.dwPlatformId;
  DWORD major = info.dwMajorVersion;
  DWORD minor = info.dwMinorVersion;
  if (platform == VER_PLATFORM_WIN32_WINDOWS && major == 4) {
    if (minor == 10) return 1;
    if (minor == 90) return 2;
  }
  if (platform == VER_PLATFORM_WIN32_NT) {
    if (major == 5 && minor == 0) return 3;
    if (major == 5 && minor == 1) return 4;
    if (major == 6 && minor == 0) return 5;
    if (major == 6 && minor == 1) return 6;
  }
  return 0;
}

int IsWindows9x() {
  OSVERSIONINFOA info;
  memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return 0;
  return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
}

int IsWow64(HANDLE process) {
  typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
  IsWow64ProcessFn query = BindProc<IsWow64ProcessFn>(GetModuleHandleA("kernel32"), "IsWow64Process");
  if (query == nullptr) return 0;
  BOOL wow64 = FALSE;
  if (!query(process, &wow64)) return 0;
  return wow64 ? 1 : 0;
}

int IsNative64BitProcessor() {
  typedef void(WINAPI * GetNativeSystemInfoFn)(LPSYSTEM_INFO);
  GetNativeSystemInfoFn query =
      BindProc<GetNativeSystemInfoFn>(GetModuleHandleA("kernel32"), "GetNativeSystemInfo");
  if (query == nullptr) return 0;
  SYSTEM_INFO info;
  memset(&info, 0, sizeof info);
  query(&info);
  WORD arch = info.wProcessorArchitecture;
  return (arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64) ? 1 : 0;
}

int GetPlatformKind(HANDLE process) {
  if (IsWow64(process)) return 2;
  if (IsNative64BitProcessor()) return 3;
  return 1;
}

int Is64BitWindows(HANDLE process) {
  int kind = GetPlatformKind(process);
  return (kind == 2 || kind == 3) ? 1 : 0;
}

namespace {

// Whether an edition's key exists. A look that fails for another reason than
// a missing key is made once more; a key that still cannot be opened exists
// all the same. Taking the wrong edition would leave that edition's keys and
// folders behind while the run reports them removed.
bool EditionKeyExists(const char* subkey) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int state = RegKeyState(HKEY_LOCAL_MACHINE, subkey);
    if (state >= 0) return state == 1;
  }
  return true;
}

}  // namespace

int GetEditionCode() {
  if (EditionKeyExists("SOFTWARE\\Corda_Vale\\KOBR_SE")) return 1;
  if (EditionKeyExists("SOFTWARE\\ORVA\\GX_LT")) return 2;
  return 0;
}


const char* EditionFolder(int edition) {
  if (edition == 1) return kCordaValeFolder;
  if (edition == 2) return kOrvaFolder;
  return nullptr;
}

int GetAppDataFolder(char* out) {
  int csidl = UsesPerUserFolders(GetWindowsGeneration()) ? CSIDL_APPDATA : CSIDL_COMMON_APPDATA;
  memset(out, 0, kPathSize);
  if (SHGetSpecialFolderPathA(nullptr, out, csidl, FALSE)) return 1;
  out[0] = '\0';
  return 0;
}

void BuildAppDataPath(const char* name, char* out) {
  if (name == nullptr || out == nullptr) return;
  out[0] = '\0';
  char folder[MAX_PATH];
  if (!GetAppDataFolder(folder)) return;
  size_t len = strlen(folder);
  if (len != 0 && folder[len - 1] != '\\') {
    if (!ConcatText(out, kPathSize, folder, "\\")) return;
  } else if (!CopyText(out, kPathSize, folder)) {
    return;
  }
  char base[MAX_PATH];
  memcpy(base, out, strlen(out) + 1);
  ConcatText(out, kPathSize, base, name);
}

int GetStartMenuProgramsPath(char* out) {
  if (out == nullptr) return 0;
  int csidl = UsesPerUserFolders(GetWindowsGeneration()) ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS;
  out[0] = '\0';
  if (!SHGetSpecialFolderPathA(nullptr, out, csidl, FALSE)) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}

void ReadProgramFilesDir(char* out) {
  memset(out, 0, kPathSize);
  ReadRegString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProgramFilesDir", out, kPathSize);
}

int IsProductFolderPresent(int edition) {
  char program_files[MAX_PATH];
  ReadProgramFilesDir(program_files);
  char path[MAX_PATH];
  // Without a Program Files folder there is no product folder under it: an
  // empty base would name a folder in the root of the drive instead.
  bool have_base = program_files[0] != '\0';
  if (edition == 1 || edition == 2) {
    return have_base && JoinPath(path, sizeof path, program_files, EditionFolder(edition)) &&
                   PathExists(path)
               ? 1
               : 0;
  }
  const char* const candidates[] = {kCordaValeFolder, kOrvaFolder};
  for (const char* folder : candidates) {
    if (have_base && JoinPath(path, sizeof path, program_files, folder) && PathExists(path)) return 1;
  }
  if (edition == 0) {
    for (const char* folder : candidates) {
      memset(path, 0, sizeof path);
      BuildAppDataPath(folder, path);
      if (path[0] != '\0' && PathExists(path)) return 1;
    }
  }
  return 0;
}

void BuildAppletPath(char* out) { BuildSystemFilePath("ztxcfg.cpl", out); }

void BuildApplet64Path(char* out) { BuildSystemFilePath("ztxcfg64.cpl", out); }
