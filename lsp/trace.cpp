#include "lsp/trace.h"

#include "platform/win.h"

namespace {

// Bounded output: characters beyond the capacity are dropped.
struct Sink {
  char* out;
  size_t cap;  // characters that may be written
  size_t len;
  void Put(char c) {
    if (len < cap) out[len++] = c;
  }
};

void PutUnsigned(Sink* sink, unsigned value, unsigned base, int width, bool zero_pad) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  for (int i = n; i < width; ++i) sink->Put(zero_pad ? '0' : ' ');
  while (n > 0) sink->Put(digits[--n]);
}

void PutSigned(Sink* sink, int value, int width, bool zero_pad) {
  // Negate in unsigned arithmetic so that INT_MIN is safe.
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  if (value < 0) {
    sink->Put('-');
    if (width > 0) --width;
  }
  PutUnsigned(sink, magnitude, 10, width, zero_pad);
}

void PutWide(Sink* sink, const WCHAR* text, int precision) {
  if (text == nullptr) {
    for (const char* p = "(null)"; *p != 0; ++p) sink->Put(*p);
    return;
  }
  for (int i = 0; (precision < 0 || i < precision) && text[i] != 0; ++i) {
    unsigned c = static_cast<unsigned>(text[i]);
    // The narrow form of a non-ASCII character depends on the code page;
    // the trace stays readable and the same everywhere with a '?'.
    sink->Put(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
  }
}

}  // namespace

size_t FormatTraceV(char* out, size_t size, const char* format, va_list args) {
  if (out == nullptr || size == 0) return 0;
  Sink sink{out, size - 1, 0};
  for (const char* p = format; *p != 0; ++p) {
    if (*p != '%') {
      sink.Put(*p);
      continue;
    }
    ++p;
    if (*p == '%') {
      sink.Put('%');
      continue;
    }
    bool zero_pad = false;
    int width = 0;
    int precision = -1;
    if (*p == '0') {
      zero_pad = true;
      ++p;
    }
    while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    if (width > 64) width = 64;
    if (*p == '.') {
      ++p;
      precision = 0;
      while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
    }
    if (*p == 'd') {
      PutSigned(&sink, va_arg(args, int), width, zero_pad);
    } else if (*p == 'u') {
      PutUnsigned(&sink, va_arg(args, unsigned), 10, width, zero_pad);
    } else if (*p == 'x') {
      PutUnsigned(&sink, va_arg(args, unsigned), 16, width, zero_pad);
    } else if (*p == 'w' && p[1] == 's') {
      ++p;
      PutWide(&sink, va_arg(args, const WCHAR*), precision);
    } else {
      // Not a conversion of the trace: stop rather than guess at arguments.
      break;
    }
  }
  out[sink.len] = 0;
  return sink.len;
}

void DebugTrace(const char* format, ...) {
  char buffer[kTraceBufferSize];
  va_list args;
  va_start(args, format);
  size_t len = FormatTraceV(buffer, sizeof buffer - 2, format, args);
  va_end(args);
  buffer[len] = '\r';
  buffer[len + 1] = '\n';
  buffer[len + 2] = 0;
  OutputDebugStringA(buffer);
}
