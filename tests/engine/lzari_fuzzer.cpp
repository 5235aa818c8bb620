// libFuzzer target: any bytes given to the unpacker must end in a status
// without touching memory outside the buffers, and any bytes packed must
// come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/lzari.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  LzariStatus status = LzariUnpack(data, size, out);
  if (status == LzariStatus::kOk && out.empty()) std::abort();
  if (status != LzariStatus::kOk && !out.empty()) std::abort();

  std::vector<uint8_t> packed = LzariPack(data, size);
  std::vector<uint8_t> back;
  std::vector<uint8_t> stream(packed.begin() + 4, packed.end());
  if (LzariDecode(stream.data(), stream.size(), size, back) != LzariStatus::kOk) std::abort();
  if (back != std::vector<uint8_t>(data, data + size)) std::abort();
  return 0;
}
