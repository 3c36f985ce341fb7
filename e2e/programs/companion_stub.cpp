// Stand-in for the 64-bit companion: leaves a file in the current folder
// that tells how it was started, then ends with the exit code it was built
// with. The host's stand-in leaves the same files.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
  const char* marker = argc == 2 && strcmp(argv[1], "-f") == 0 ? "companion ran with -f"
                                                               : "companion ran with other arguments";
  HANDLE h = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return STUB_EXIT_CODE;
}
