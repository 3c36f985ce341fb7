#include "common/text.h"

#include "platform/win.h"

bool ConcatText(char* out, size_t out_size, const char* a, const char* b) {
  if (out == nullptr || out_size == 0) return false;
  size_t la = strlen(a);
  size_t lb = strlen(b);
  if (la + lb + 1 > out_size) {
    out[0] = '\0';
    return false;
  }
  memmove(out, a, la);
  memmove(out + la, b, lb);
  out[la + lb] = '\0';
  return true;
}

bool JoinPath(char* out, size_t out_size, const char* folder, const char* name) {
  if (out == nullptr || out_size == 0) return false;
  size_t lf = strlen(folder);
  size_t ln = strlen(name);
  if (lf + 1 + ln + 1 > out_size) {
    out[0] = '\0';
    return false;
  }
  memmove(out, folder, lf);
  out[lf] = '\\';
  memmove(out + lf + 1, name, ln);
  out[lf + 1 + ln] = '\0';
  return true;
}

bool CopyText(char* out, size_t out_size, const char* text) {
  return ConcatText(out, out_size, text, "");
}

static char LowerOne(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsAsciiNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (LowerOne(*a) != LowerOne(*b)) return false;
    if (*a == '\0') return true;
  }
}

void LowerAscii(char* text) {
  for (; *text != '\0'; ++text) *text = LowerOne(*text);
}

const char* LastPathName(const char* path) {
  const char* name = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    // Lead bytes lie above 0x80 in every double-byte code page.
    BYTE c = static_cast<BYTE>(*p);
    if (c >= 0x80 && IsDBCSLeadByte(c) && p[1] != '\0') {
      ++p;
      continue;
    }
    if (*p == '\\') name = p + 1;
  }
  return name;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
