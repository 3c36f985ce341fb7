#include "support.h"

#include <iconv.h>

#include <stdexcept>

#include "driver/cleanup.h"

std::string Cp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv CP932 unavailable");
  std::string in = utf8;
  std::string out(in.size() * 2 + 16, '\0');
  char* ip = in.data();
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) throw std::runtime_error("not convertible to CP932: " + utf8);
  out.resize(out.size() - ol);
  return out;
}

RunResult RunTool(const std::string& input) {
  RunResult r;
  r.out = sim::RunWithConsole(input, [&] { r.exit_code = RunCleanup(); });
  return r;
}
