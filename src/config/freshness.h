#pragma once

#include <cstdint>

// A cached file is fresh for `maxAgeSeconds` when that age is not 0, the file
// exists with a readable write time, and it was written less than that many
// whole seconds ago. A write time in the future also counts as fresh.
bool IsFreshFile(bool haveWriteTime, int64_t nowSeconds, int64_t writeSeconds, uint32_t maxAgeSeconds);
