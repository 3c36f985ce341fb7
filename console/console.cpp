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

bool ReadAnswerLine(char* buffer, size_t size, size_t* length) {
  // Byte by byte: a line is whatever comes before its line end, NUL bytes
  // included, so a NUL cannot cut a line short or join two lines.
  size_t count = 0;
  int c = EOF;
  while ((c = getc(stdin)) != EOF && c != '\n') {
    if (count + 1 < size) buffer[count] = static_cast<char>(c);
    ++count;
  }
  buffer[count + 1 < size ? count : size - 1] = '\0';
  *length = count;
  // A last line without its line end still counts as a line.
  return c == '\n' || count > 0;
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
