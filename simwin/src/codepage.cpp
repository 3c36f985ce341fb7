// The machine's ANSI code page: how the "A" calls turn their narrow strings
// into the Unicode names the file system keeps, and names back into narrow
// strings. Names are kept in UTF-8 inside the simulated machine.
#include "state.h"

#include <iconv.h>

#include <cstdlib>

namespace sim {
namespace detail {

namespace {

bool NextCodePoint(const std::string& s, size_t* at, uint32_t* cp) {
  unsigned char c = static_cast<unsigned char>(s[*at]);
  size_t extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  if (extra != 0 && *at + extra >= s.size()) return false;
  uint32_t v = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
  for (size_t i = 1; i <= extra; ++i) v = (v << 6) | (static_cast<unsigned char>(s[*at + i]) & 0x3F);
  *at += extra + 1;
  *cp = v;
  return true;
}

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// One character through glibc's table of the code page; false when the code
// page has no such character (or the bytes are no character of it).
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) abort();
  std::string src = in;
  std::string dst(16, '\0');
  char* ip = src.data();
  size_t il = src.size();
  char* op = dst.data();
  size_t ol = dst.size();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || il != 0) return false;
  *out = dst.substr(0, dst.size() - ol);
  return true;
}

const char* TableOf(UINT code_page) { return code_page == 1252 ? "CP1252" : "CP932"; }

// WideCharToMultiByte without WC_NO_BEST_FIT_CHARS maps characters a code page
// lacks to look-alikes (Microsoft's tables at unicode.org,
// Public/MAPPINGS/VENDORS/MICSFT/WindowsBestFit). bestfit1252.txt turns the
// fullwidth forms U+FF01..U+FF5E into ASCII (U+FF3C, the fullwidth reverse
// solidus, into 0x5C) and U+2215/U+2216 into '/' and '\'. bestfit932.txt turns
// U+00A5 (yen) into 0x5C and U+203E into 0x7E, as glibc's CP932 table does.
int BestFit(UINT code_page, uint32_t cp) {
  if (code_page != 1252) return -1;
  if (cp >= 0xFF01 && cp <= 0xFF5E) return static_cast<int>(cp - 0xFEE0);
  if (cp == 0x2215) return '/';
  if (cp == 0x2216) return '\\';
  if (cp == 0x3000) return ' ';
  return -1;
}

bool IsAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

std::string AnsiToUtf8(const char* ansi, bool* invalid) {
  if (invalid != nullptr) *invalid = false;
  if (ansi == nullptr) return "";
  std::string in(ansi);
  if (IsAscii(in)) return in;
  UINT code_page = S().ansi_code_page;
  std::string out;
  for (size_t i = 0; i < in.size();) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    bool lead = code_page == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
    size_t n = lead && i + 1 < in.size() ? 2 : 1;
    std::string piece;
    if (Convert("UTF-8", TableOf(code_page), in.substr(i, n), &piece)) {
      out += piece;
    } else if (code_page == 1252) {
      AppendUtf8(&out, c);  // the five unassigned bytes map to U+0081 and the like
    } else {
      AppendUtf8(&out, 0x30FB);  // code page 932's default character, the katakana middle dot
      if (invalid != nullptr) *invalid = true;
    }
    i += n;
  }
  return out;
}

std::string Utf8ToAnsi(const std::string& utf8, bool* defaulted) {
  if (defaulted != nullptr) *defaulted = false;
  if (IsAscii(utf8)) return utf8;
  UINT code_page = S().ansi_code_page;
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    uint32_t cp = 0;
    if (!NextCodePoint(utf8, &i, &cp)) break;
    std::string piece;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (Convert(TableOf(code_page), "UTF-8", utf8.substr(start, i - start), &piece)) {
      out += piece;
    } else if (int fit = BestFit(code_page, cp); fit >= 0) {
      out += static_cast<char>(fit);
    } else {
      out += '?';
      if (defaulted != nullptr) *defaulted = true;
    }
  }
  return out;
}

// The code page's own form of one character: true when the table has one
// that turns back into the same character (a one-way table entry such as
// U+00A5 to 0x5C in code page 932 is best fit, not the character).
static bool ExactAnsi(UINT code_page, const std::string& utf8_char, uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out = std::string(1, static_cast<char>(cp));
    return true;
  }
  std::string piece, back;
  return Convert(TableOf(code_page), "UTF-8", utf8_char, &piece) &&
         Convert("UTF-8", TableOf(code_page), piece, &back) && back == utf8_char && (*out = piece, true);
}

std::string Utf8ToAnsiExact(const std::string& utf8, bool* lossy) {
  *lossy = false;
  UINT code_page = S().ansi_code_page;
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    uint32_t cp = 0;
    if (!NextCodePoint(utf8, &i, &cp)) break;
    std::string piece;
    if (ExactAnsi(code_page, utf8.substr(start, i - start), cp, &piece)) {
      out += piece;
    } else {
      out += '?';  // the default character of both code pages
      *lossy = true;
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    if (!NextCodePoint(utf8, &i, &cp)) break;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const char16_t* text, size_t chars) {
  std::string out;
  for (size_t i = 0; i < chars; ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < chars && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    AppendUtf8(&out, cp);
  }
  return out;
}

}  // namespace detail

void SetAnsiCodePage(UINT code_page) {
  if (code_page != 932 && code_page != 1252) abort();
  detail::S().ansi_code_page = code_page;
}

}  // namespace sim

using namespace sim::detail;

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int bytes, LPWSTR out, int chars) {
  DWORD err = ERROR_INVALID_PARAMETER;
  if (Enter("MultiByteToWideChar", err, "cp=%u,flags=0x%x,%s,%d,chars=%d", code_page, flags,
            Str(text).c_str(), bytes, chars))
    return 0;
  if (text == nullptr || (code_page != CP_ACP && code_page != S().ansi_code_page) || bytes != -1) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  bool invalid = false;
  std::string utf8 = AnsiToUtf8(text, &invalid);
  // With MB_ERR_INVALID_CHARS a byte sequence that is no character fails the
  // call instead of turning into the default character.
  if ((flags & MB_ERR_INVALID_CHARS) && invalid) {
    S().last_error = ERROR_NO_UNICODE_TRANSLATION;
    return 0;
  }
  std::u16string wide = Utf8ToUtf16(utf8);
  int needed = static_cast<int>(wide.size()) + 1;  // with the terminator, as bytes == -1 asks
  if (chars == 0) return needed;
  if (out == nullptr || chars < needed) {
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(out, wide.c_str(), sizeof(WCHAR) * static_cast<size_t>(needed));
  return needed;
}

// With WC_NO_BEST_FIT_CHARS a character whose way back would not give the
// same character becomes the default character ("if translating from
// Unicode to multibyte and back to Unicode again does not yield the exact
// same Unicode character, the default character is used", Microsoft's page
// of WideCharToMultiByte, which gives the flag from Windows 98 and 2000 on);
// without it the code page's best fit is taken.
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int chars, LPSTR out, int bytes,
                        LPCSTR default_char, LPBOOL used_default) {
  DWORD err = ERROR_INVALID_PARAMETER;
  if (Enter("WideCharToMultiByte", err, "cp=%u,flags=0x%x,chars=%d,bytes=%d", code_page, flags, chars, bytes))
    return 0;
  // Not modelled: a default character of the caller's, and a length.
  bool best_fit = !(flags & WC_NO_BEST_FIT_CHARS);
  if (text == nullptr || (code_page != CP_ACP && code_page != S().ansi_code_page) || chars != -1 ||
      default_char != nullptr) {
    S().last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if ((flags & ~WC_NO_BEST_FIT_CHARS) != 0) {
    S().last_error = 1004;  // ERROR_INVALID_FLAGS
    return 0;
  }
  size_t length = 0;
  while (text[length] != 0) ++length;
  std::string utf8 = Utf16ToUtf8(text, length);
  bool lossy = false;
  // A character that best-fits is no default character.
  std::string ansi = best_fit ? Utf8ToAnsi(utf8, &lossy) : Utf8ToAnsiExact(utf8, &lossy);
  if (used_default != nullptr) *used_default = lossy ? TRUE : FALSE;
  int needed = static_cast<int>(ansi.size()) + 1;
  if (bytes == 0) return needed;
  if (out == nullptr || bytes < needed) {
    S().last_error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(out, ansi.c_str(), ansi.size() + 1);
  return needed;
}
