#include "trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace p2sp {

void Debug(const char* format, ...) {
  using Clock = std::chrono::steady_clock;
  static const bool enabled = [] {
    const char* v = std::getenv("P2SP_DEBUG");
    return v && *v && *v != '0';
  }();
  if (!enabled) return;
  va_list args;
  va_start(args, format);
  static const auto started = Clock::now();
  std::fprintf(stderr, "p2sp %7.3f: ", std::chrono::duration<double>(Clock::now() - started).count());
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
}

}  // namespace p2sp
