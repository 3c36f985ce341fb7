// Runs until it is ended from outside. Given a path, it first makes that file,
// which tells whoever started it that it is up.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc > 1) {
    HANDLE h = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  for (;;) Sleep(1000);
}
