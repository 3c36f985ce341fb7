// Test helper run inside a Wine prefix. Reads a plan of lines and either
// plants what they name or reports, one line each, whether it exists:
//   key PATH | value PATH|NAME[|TEXT] | dir PATH | file PATH | process PATH
//   readonly PATH (a file with the read-only attribute)
//   deny-delete PATH (a folder whose access list denies Everyone deletion)
//   readonly-dir PATH (a folder with the read-only attribute)
// PATH of keys starts with HKLM\ or HKCU\. "hold PATH [READY]" keeps a file
// open without sharing until the program is ended; once it holds the file it
// makes the file READY.
#include <windows.h>
#include <psapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

namespace {

HKEY Root(const char* path, const char** rest) {
  if (strncmp(path, "HKLM\\", 5) == 0) {
    *rest = path + 5;
    return HKEY_LOCAL_MACHINE;
  }
  if (strncmp(path, "HKCU\\", 5) == 0) {
    *rest = path + 5;
    return HKEY_CURRENT_USER;
  }
  return nullptr;
}

// Splits "a|b|c" in place.
int Split(char* s, char** parts, int max) {
  int n = 0;
  parts[n++] = s;
  for (char* p = s; *p && n < max; ++p) {
    if (*p == '|') {
      *p = '\0';
      parts[n++] = p + 1;
    }
  }
  return n;
}

void MakeDirs(const char* path) {
  char buf[1024];
  snprintf(buf, sizeof buf, "%s", path);
  for (char* p = buf + 3; *p; ++p) {
    if (*p == '\\') {
      *p = '\0';
      CreateDirectoryA(buf, nullptr);
      *p = '\\';
    }
  }
  CreateDirectoryA(buf, nullptr);
}

void MakeParent(const char* path) {
  char buf[1024];
  snprintf(buf, sizeof buf, "%s", path);
  char* slash = strrchr(buf, '\\');
  if (slash) {
    *slash = '\0';
    MakeDirs(buf);
  }
}

bool ProcessRunning(const char* path) {
  DWORD ids[4096];
  DWORD bytes = 0;
  if (!EnumProcesses(ids, sizeof ids, &bytes)) return false;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
    if (!h) continue;
    char name[MAX_PATH] = "";
    DWORD n = GetModuleFileNameExA(h, nullptr, name, MAX_PATH);
    CloseHandle(h);
    if (n != 0 && lstrcmpiA(name, path) == 0) return true;
  }
  return false;
}

int Plant(char** parts, int n, const char* kind) {
  const char* sub = nullptr;
  if (strcmp(kind, "key") == 0 || strcmp(kind, "value") == 0) {
    HKEY root = Root(parts[0], &sub);
    HKEY key = nullptr;
    if (!root || RegCreateKeyExA(root, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0)
      return 1;
    LONG r = 0;
    if (strcmp(kind, "value") == 0 && n >= 2) {
      const char* text = n >= 3 ? parts[2] : "";
      r = RegSetValueExA(key, parts[1], 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                         static_cast<DWORD>(strlen(text) + 1));
    }
    RegCloseKey(key);
    return r == 0 ? 0 : 1;
  }
  if (strcmp(kind, "dir") == 0 || strcmp(kind, "readonly-dir") == 0) {
    MakeDirs(parts[0]);
    // Wine takes the attribute and ignores it on a folder; Windows keeps it.
    if (strcmp(kind, "readonly-dir") == 0 && !SetFileAttributesA(parts[0], FILE_ATTRIBUTE_READONLY)) return 1;
    return 0;
  }
  if (strcmp(kind, "deny-delete") == 0) {
    MakeDirs(parts[0]);
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(D;OICI;SDDC;;;WD)(A;OICI;FA;;;BA)",
                                                              SDDL_REVISION_1, &sd, nullptr))
      return 1;
    BOOL set = SetFileSecurityA(parts[0], DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    return set ? 0 : 1;
  }
  if (strcmp(kind, "file") == 0 || strcmp(kind, "readonly") == 0) {
    MakeParent(parts[0]);
    HANDLE h = CreateFileA(parts[0], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    DWORD w = 0;
    WriteFile(h, "ztx", 3, &w, nullptr);
    CloseHandle(h);
    if (strcmp(kind, "readonly") == 0 && !SetFileAttributesA(parts[0], FILE_ATTRIBUTE_READONLY)) return 1;
    return 0;
  }
  return 1;
}

int Check(char** parts, int n, const char* kind) {
  const char* sub = nullptr;
  if (strcmp(kind, "key") == 0) {
    HKEY root = Root(parts[0], &sub);
    HKEY key = nullptr;
    if (!root || RegOpenKeyExA(root, sub, 0, KEY_READ, &key) != 0) return 0;
    RegCloseKey(key);
    return 1;
  }
  if (strcmp(kind, "value") == 0) {
    HKEY root = Root(parts[0], &sub);
    HKEY key = nullptr;
    if (!root || n < 2 || RegOpenKeyExA(root, sub, 0, KEY_READ, &key) != 0) return 0;
    LONG r = RegQueryValueExA(key, parts[1], nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return r == 0 ? 1 : 0;
  }
  if (strcmp(kind, "dir") == 0 || strcmp(kind, "file") == 0 || strcmp(kind, "path") == 0)
    return GetFileAttributesA(parts[0]) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
  if (strcmp(kind, "process") == 0) return ProcessRunning(parts[0]) ? 1 : 0;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && strcmp(argv[1], "hold") == 0) {
    HANDLE h = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    if (argc == 4) {
      HANDLE ready = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    }
    for (;;) Sleep(1000);
  }
  if (argc != 3 || (strcmp(argv[1], "plant") != 0 && strcmp(argv[1], "check") != 0)) {
    fprintf(stderr, "usage: ztxe2e plant|check PLAN | hold FILE [READY]\n");
    return 2;
  }
  bool plant = strcmp(argv[1], "plant") == 0;
  FILE* f = fopen(argv[2], "r");
  if (!f) return 2;
  char line[2048];
  int failures = 0;
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = '\0';
    char* space = strchr(line, ' ');
    if (!space) continue;
    *space = '\0';
    char* parts[3] = {nullptr, nullptr, nullptr};
    int n = Split(space + 1, parts, 3);
    if (plant) {
      if (Plant(parts, n, line) != 0) {
        fprintf(stderr, "cannot plant %s %s\n", line, parts[0]);
        failures++;
      }
    } else {
      printf("%d\n", Check(parts, n, line));
    }
  }
  fclose(f);
  return failures == 0 ? 0 : 1;
}
