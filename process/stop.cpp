#include "process/stop.h"

#include <cstdlib>

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
  (void)data;
  if (task != 0) return true;
  char company[kCompanyNameBytes];
  company[0] = '\0';
  if (!ReadCompanyName(path, company, sizeof company)) return true;
  LowerAscii(company);
  if (strstr(company, "varlume") == nullptr) return true;
  const char* slash = strrchr(path, '\\');
  if (slash == nullptr || !IsProductFileName(slash + 1)) return true;

  ScopedKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process.Valid()) {
    PrintSystemErrorText(GetLastError());
    return true;
  }
  if (!TerminateProcess(process.Get(), 0)) PrintSystemErrorText(GetLastError());
  return true;
}

int StopProductProcesses() { return WalkProcesses(&TerminateIfProductProcess, 0) ? 1 : 0; }
