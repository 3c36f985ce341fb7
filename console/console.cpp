#include "console/console.h"

void PrintText(const char* text) {
  fputs(text, stdout);
  fflush(stdout);
}

void ShowProgress(int count, DWORD delay_ms) {
  for (int i = 0; i < count; ++i) {
    Sleep(delay_ms);
    PrintText(".");
  }
}

bool ReadAnswerLine(char* buffer, size_t size, bool* too_long) {
  *too_long = false;
  buffer[0] = '\0';
  bool got_any = false;
  char chunk[64];
  size_t used = 0;
  while (fgets(chunk, sizeof chunk, stdin) != nullptr) {
    got_any = true;
    size_t len = strlen(chunk);
    bool line_end = len > 0 && chunk[len - 1] == '\n';
    if (line_end) chunk[--len] = '\0';
    if (!*too_long) {
      if (used + len + 1 > size) {
        *too_long = true;
      } else {
        memcpy(buffer + used, chunk, len + 1);
        used += len;
      }
    }
    if (line_end) return true;
  }
  // A last line without its line end still counts as a line.
  return got_any;
}

static bool HasConsoleInput() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  return GetConsoleMode(input, &mode) != 0;
}

void WaitForKey() {
  if (!HasConsoleInput()) return;
  while (!_kbhit()) Sleep(10);
  _getch();
}
