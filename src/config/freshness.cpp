#include "config/freshness.h"

bool IsFreshFile(bool haveWriteTime, int64_t nowSeconds, int64_t writeSeconds, uint32_t maxAgeSeconds) {
  if (maxAgeSeconds == 0 || !haveWriteTime) return false;
  return nowSeconds - writeSeconds < static_cast<int64_t>(maxAgeSeconds);
}
