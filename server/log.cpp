#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

void Log(const char* format, ...) {
  static std::mutex lock;
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  char line[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::lock_guard<std::mutex> guard(lock);
  std::fprintf(stderr, "%s gdserver: %s\n", stamp, line);
}
