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
  // A line is whatever comes before its line end, NUL bytes included, so a
  // NUL can neither cut a line short nor join two lines. fgets tells nothing
  // of NUL bytes it stored: in a chunk filled with line ends beforehand, the
  // last NUL is the one that fgets put after what it read.
  size_t count = 0;
  bool got_any = false;
  bool line_end = false;
  char chunk[64];
  while (!line_end) {
    memset(chunk, '\n', sizeof chunk);
    if (fgets(chunk, sizeof chunk, stdin) == nullptr) break;
    got_any = true;
    size_t read = sizeof chunk - 1;
    while (chunk[read] != '\0') --read;
    line_end = read > 0 && chunk[read - 1] == '\n';
    if (line_end) --read;
    for (size_t i = 0; i < read; ++i, ++count)
      if (count + 1 < size) buffer[count] = chunk[i];
  }
  buffer[count + 1 < size ? count : size - 1] = '\0';
  *length = count;
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
