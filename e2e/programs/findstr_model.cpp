// findstr.exe for the Wine prefix of the ztxrun.cmd runs. Wine 8.0's
// findstr is a stub (it prints nothing and exits with 0), so the prefix gets
// this model of the options ztxrun.cmd uses, put where the script calls
// findstr (%SystemRoot%\system32). It models Windows as Microsoft's findstr
// page and Wine's later conformance tests (programs/findstr/tests, each ok()
// recording what Windows answered) describe it:
//   - data and /G: search strings are bytes; a line ends at LF, and a CR
//     before the LF is part of the line end;
//   - a line printed from a file keeps its own line end, and a last line
//     without one is printed without one; a line read from standard input
//     is printed with CR LF;
//   - "$" (and so /X and /E, which anchor at the line end) does not match
//     the end of a last line that has no line end;
//   - the exit code is 0 when a line was printed, 1 when none, 2 on an error.
// What ztxrun.cmd must not depend on is refused with exit code 2, so that a
// change of the script that starts to depend on it fails its test:
//   - several literal search strings without /I (Windows' findstr can miss a
//     match when they differ in length);
//   - an empty search string (what Windows makes of it is not documented);
//   - regular expressions beyond "^", "$" and plain characters.
// /I folds ASCII letters only. A test makes a search fail (exit code 2, as
// for a file that cannot be read) with FINDSTR_MODEL_FAIL set to options:
// every call that carries all of them fails.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int kMaxStrings = 256;
const size_t kMaxLine = 4096;

struct Options {
  bool literal = true;
  bool exact = false;
  bool invert = false;
  bool fold = false;
  bool begin = false;
  bool end = false;
  bool regex = false;
  char* strings[kMaxStrings];
  int count = 0;
};

char Fold(char c, bool fold) { return fold && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameBytes(const char* a, const char* b, size_t n, bool fold) {
  for (size_t i = 0; i < n; ++i)
    if (Fold(a[i], fold) != Fold(b[i], fold)) return false;
  return true;
}

// One search string against one line (its bytes without the line end).
bool Matches(const Options& o, const char* s, const char* line, size_t n, bool ended) {
  bool anchor_start = o.begin || o.exact;
  bool anchor_end = o.end || o.exact;
  size_t len = strlen(s);
  if (o.regex) {
    if (s[0] == '^') anchor_start = true, ++s, --len;
    if (len > 0 && s[len - 1] == '$') anchor_end = true, --len;
  }
  if (anchor_end && !ended) return false;
  if (len > n) return false;
  if (anchor_start && anchor_end) return len == n && SameBytes(s, line, n, o.fold);
  if (anchor_start) return SameBytes(s, line, len, o.fold);
  if (anchor_end) return SameBytes(s, line + n - len, len, o.fold);
  for (size_t at = 0; at + len <= n; ++at)
    if (SameBytes(s, line + at, len, o.fold)) return true;
  return false;
}

bool AddString(Options& o, const char* s, size_t n) {
  if (n == 0) {
    fprintf(stderr, "findstr model: an empty search string\n");
    return false;
  }
  if (o.count == kMaxStrings) return false;
  char* copy = static_cast<char*>(malloc(n + 1));
  if (copy == nullptr) return false;
  memcpy(copy, s, n);
  copy[n] = '\0';
  o.strings[o.count++] = copy;
  return true;
}

bool ReadStrings(Options& o, const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) {
    fprintf(stderr, "FINDSTR: Cannot open %s\n", path);
    return false;
  }
  char line[kMaxLine];
  bool ok = true;
  while (ok && fgets(line, sizeof line, f) != nullptr) {
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n') --n;
    if (n > 0 && line[n - 1] == '\r') --n;
    ok = AddString(o, line, n);
  }
  fclose(f);
  return ok;
}

bool Modeled(const Options& o) {
  if (o.count == 0) return false;
  if (o.regex) {
    for (int i = 0; i < o.count; ++i)
      if (strpbrk(o.strings[i], ".*[]\\") != nullptr) {
        fprintf(stderr, "findstr model: a regular expression it does not model\n");
        return false;
      }
    return true;
  }
  if (o.count > 1 && !o.fold) {
    fprintf(stderr, "findstr model: several literal search strings without /I\n");
    return false;
  }
  return true;
}

bool ToldToFail(int argc, char** argv) {
  const char* fail = getenv("FINDSTR_MODEL_FAIL");
  if (fail == nullptr || *fail == '\0') return false;
  char wanted[64];
  if (strlen(fail) >= sizeof wanted) return false;
  strcpy(wanted, fail);
  for (char* option = strtok(wanted, " "); option != nullptr; option = strtok(nullptr, " ")) {
    bool carried = false;
    for (int i = 1; i < argc && !carried; ++i) carried = _strnicmp(argv[i], option, strlen(option)) == 0;
    if (!carried) return false;
  }
  return true;
}

// Prints the lines of one source that match (or, with /V, do not); true when
// one was printed.
bool Search(const Options& o, FILE* f, bool from_stdin) {
  static char line[kMaxLine + 2];
  bool printed = false;
  while (fread(line, 1, 1, f) == 1) {
    size_t len = 1;
    while (line[len - 1] != '\n' && len < kMaxLine && fread(line + len, 1, 1, f) == 1) ++len;
    bool ended = line[len - 1] == '\n';
    size_t body = len;
    if (ended) {
      --body;
      if (body > 0 && line[body - 1] == '\r') --body;
    }
    bool hit = false;
    for (int i = 0; i < o.count && !hit; ++i) hit = Matches(o, o.strings[i], line, body, ended);
    if (hit == o.invert) continue;
    fwrite(line, 1, len, stdout);
    if (!ended && from_stdin) fputs("\r\n", stdout);
    printed = true;
  }
  return printed;
}

}  // namespace

int main(int argc, char** argv) {
  // Bytes in, bytes out: no CR added before LF, none taken away.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  Options o;
  int first_file = argc;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (a[0] != '/') {
      if (o.count == 0) {
        // The first argument that is no option: search strings split at blanks.
        const char* p = a;
        while (*p != '\0') {
          size_t n = strcspn(p, " ");
          if (n > 0 && !AddString(o, p, n)) return 2;
          p += n + (p[n] == ' ' ? 1 : 0);
        }
        continue;
      }
      first_file = i;
      break;
    }
    if (_strnicmp(a, "/C:", 3) == 0) {
      if (!AddString(o, a + 3, strlen(a + 3))) return 2;
    } else if (_strnicmp(a, "/G:", 3) == 0) {
      if (!ReadStrings(o, a + 3)) return 2;
    } else if (_stricmp(a, "/L") == 0) {
      o.literal = true, o.regex = false;
    } else if (_stricmp(a, "/R") == 0) {
      o.regex = true, o.literal = false;
    } else if (_stricmp(a, "/X") == 0) {
      o.exact = true;
    } else if (_stricmp(a, "/V") == 0) {
      o.invert = true;
    } else if (_stricmp(a, "/I") == 0) {
      o.fold = true;
    } else if (_stricmp(a, "/B") == 0) {
      o.begin = true;
    } else if (_stricmp(a, "/E") == 0) {
      o.end = true;
    } else {
      fprintf(stderr, "findstr model: option %s is not modeled\n", a);
      return 2;
    }
  }
  if (!Modeled(o)) return 2;
  if (ToldToFail(argc, argv)) {
    fprintf(stderr, "FINDSTR: Cannot open (FINDSTR_MODEL_FAIL)\n");
    return 2;
  }
  if (first_file == argc) return Search(o, stdin, true) ? 0 : 1;
  if (argc - first_file > 1) {
    fprintf(stderr, "findstr model: one file at most (Windows prefixes each line with its name)\n");
    return 2;
  }
  FILE* f = fopen(argv[first_file], "rb");
  if (f == nullptr) {
    fprintf(stderr, "FINDSTR: Cannot open %s\n", argv[first_file]);
    return 2;
  }
  bool printed = Search(o, f, false);
  fclose(f);
  return printed ? 0 : 1;
}
