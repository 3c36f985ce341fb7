#include "process/stop.h"

#include <cstdlib>

#include "common/library.h"
#include "common/owners.h"
#include "common/text.h"
#include "process/walk.h"

const WORD kFallbackCodePages[12] = {0x0000, 0x03A4, 0x03B5, 0x03B6, 0x04B0, 0x04E2,
                                     0x04E3, 0x04E4, 0x04E5, 0x04E6, 0x04E7, 0x04E8};
const WORD kFallbackLanguages[45] = {
    0x0401, 0x0402, 0x0403, 0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B,
    0x040C, 0x040D, 0x040E, 0x040F, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416,
    0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421,
    0x0804, 0x0807, 0x0809, 0x080A, 0x080C, 0x0810, 0x0813, 0x0814, 0x0816, 0x081A, 0x0C0C,
    0x100C};

namespace {

const size_t kCompanyNameBytes = 1024;
const DWORD kSystemTextFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
const DWORD kUserDefaultLanguage = 0x0400;

bool HasFileVersion(const void* block, WORD language, WORD code_page) {
  char query[64];
  wsprintfA(query, "\\StringFileInfo\\%04x%04x\\FileVersion", language, code_page);
  void* value = nullptr;
  UINT length = 0;
  return VerQueryValueA(block, query, &value, &length) != FALSE;
}

bool IsProductFileName(const char* name) {
  return EqualsAsciiNoCase(name, "ztxcfg.exe") || EqualsAsciiNoCase(name, "ztxblk.exe");
}

// Only a file on a local fixed disk is opened: reading a file on a share
// ("\\\\host\\share\\...", a mapped network drive) makes the administrator's
// session log on to that host, and "\\\\.\\" or "\\\\?\\" names reach devices
// and pipes.
bool IsOnLocalFixedDisk(const char* path) {
  char letter = path[0];
  bool drive = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  if (!drive || path[1] != ':' || path[2] != '\\') return false;
  const char root[] = {letter, ':', '\\', '\0'};
  return GetDriveTypeA(root) == DRIVE_FIXED;
}

// What StopProductProcesses hands the visitor. On the NT family a process is
// opened once, checked again through that handle and terminated through it;
// Windows 9x lists processes with toolhelp and has no way to read a path
// through a handle.
struct StopContext {
  bool nine_x;
  const ProcessPathReader* reader;
};

// Opens a process to terminate it. On NT it must still run the file that
// was checked: its path read through the handle now equals the path the walk
// gave. False, with the code whose text to print, otherwise.
bool OpenCheckedProcess(DWORD pid, const char* path, const StopContext* context, ScopedKernelHandle* process,
                        DWORD* error) {
  bool nine_x = context != nullptr && context->nine_x;
  process->Reset(OpenProcess(nine_x ? PROCESS_TERMINATE : PROCESS_TERMINATE | kProcessPathRights, FALSE, pid));
  if (!process->Valid()) {
    *error = GetLastError();
    return false;
  }
  if (nine_x) return true;
  char now[MAX_PATH];
  if (context == nullptr || !context->reader->Read(process->Get(), now)) {
    *error = context == nullptr ? ERROR_PROC_NOT_FOUND : GetLastError();
    return false;
  }
  // Another file runs under the id now: the process that was checked has
  // ended and its id went to a newcomer. That process is gone, as when
  // OpenProcess meets an id no process has.
  if (strcmp(now, path) != 0) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  return true;
}

}  // namespace

bool FindVersionTranslation(const void* block, WORD* language, WORD* code_page) {
  void* list = nullptr;
  UINT length = 0;
  if (VerQueryValueA(block, "\\VarFileInfo\\Translation", &list, &length) && list != nullptr &&
      length >= 4) {
    const BYTE* entry = static_cast<const BYTE*>(list);
    for (UINT i = 0; i < length / 4; ++i, entry += 4) {
      WORD lang = 0;
      WORD cp = 0;
      memcpy(&lang, entry, sizeof lang);
      memcpy(&cp, entry + 2, sizeof cp);
      if (HasFileVersion(block, lang, cp)) {
        *language = lang;
        *code_page = cp;
        return true;
      }
    }
  }
  for (WORD cp : kFallbackCodePages) {
    for (WORD lang : kFallbackLanguages) {
      if (HasFileVersion(block, lang, cp)) {
        *language = lang;
        *code_page = cp;
        return true;
      }
    }
  }
  return false;
}

bool ReadCompanyName(const char* path, char* buffer, size_t buffer_size) {
  if (path == nullptr || buffer == nullptr || buffer_size == 0) return false;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return false;
  DWORD block_size = GetFileVersionInfoSizeA(path, nullptr);
  if (block_size == 0) return false;
  ScopedCrtBlock block(calloc(block_size, 1));
  if (!block.Valid()) return false;
  if (!GetFileVersionInfoA(path, 0, block_size, block.Get())) return false;

  WORD language = 0;
  WORD code_page = 0;
  if (!FindVersionTranslation(block.Get(), &language, &code_page)) return false;
  char query[64];
  wsprintfA(query, "\\StringFileInfo\\%04x%04x\\CompanyName", language, code_page);
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.Get(), query, &value, &length) || value == nullptr) return false;
  if (length == 0 || length >= buffer_size) return false;
  // The reported length counts the NUL on some Windows versions and not on
  // others; never read past it, and end the copy at the first NUL.
  const char* text = static_cast<const char*>(value);
  size_t chars = strnlen(text, length);
  if (chars == 0) return false;
  memcpy(buffer, text, chars);
  buffer[chars] = '\0';
  return true;
}

void PrintSystemErrorText(DWORD code) {
  ScopedLocalMemory text;
  DWORD length = FormatMessageA(kSystemTextFlags, nullptr, code, kUserDefaultLanguage,
                                reinterpret_cast<LPSTR>(text.Receive()), 0, nullptr);
  if (length == 0 || !text.Valid()) {
    printf("Error %lu\n", static_cast<unsigned long>(code));
    return;
  }
  printf("%s\n", static_cast<const char*>(text.Get()));
}

bool TerminateIfProductProcess(DWORD pid, WORD task, const char* path, ULONG_PTR data) {
  if (task != 0) return true;
  // The name first: nothing of another program's file is ever opened. The
  // name is split off character by character, so that "\x95\x5C" (a
  // double-byte character of code page 932 ending in 0x5C) stays whole.
  const char* name = LastPathName(path);
  if (name == nullptr || !IsProductFileName(name)) return true;
  if (!IsOnLocalFixedDisk(path)) return true;
  char company[kCompanyNameBytes];
  company[0] = '\0';
  if (!ReadCompanyName(path, company, sizeof company)) return true;
  LowerAscii(company);
  if (strstr(company, "varlume") == nullptr) return true;

  ScopedKernelHandle process;
  DWORD error = 0;
  if (!OpenCheckedProcess(pid, path, reinterpret_cast<const StopContext*>(data), &process, &error)) {
    PrintSystemErrorText(error);
    return true;
  }
  if (!TerminateProcess(process.Get(), 0)) PrintSystemErrorText(GetLastError());
  return true;
}

int StopProductProcesses() {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  // Without an answer the process is treated as NT's: checked, or left alone.
  bool nine_x = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  ScopedLibrary psapi;
  if (!nine_x) psapi.Reset(LoadSystemLibrary("PSAPI.DLL"));
  ProcessPathReader reader(psapi.Get());
  StopContext context = {nine_x, &reader};
  return WalkProcesses(&TerminateIfProductProcess, reinterpret_cast<ULONG_PTR>(&context)) ? 1 : 0;
}
