#include "progress_record.h"

#include <cstring>

namespace p2sp {
namespace {

constexpr uint32_t kMagic = 0x53325054;  // "TP2S"
// Version 2 added the verified pieces and the pending bytes: the count field
// holds three 10-bit counts (done, verified, pending), their ranges follow one
// another, the manifest's hash is in the slot's last 8 bytes. Version 1 slots
// still decode (nothing verified or pending).
constexpr uint32_t kVersion = 2;
constexpr size_t kCountOffset = 64;
constexpr size_t kCrcOffset = 68;
constexpr size_t kRangesOffset = 72;
constexpr size_t kManifestOffset = ProgressRecord::kSlotSize - 8;

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

uint32_t SlotCrc(const uint8_t* slot, uint32_t count, uint32_t version) {
  uint32_t crc = Crc32(slot, kCrcOffset);
  crc = Crc32(slot + kRangesOffset, static_cast<size_t>(count) * 16, crc);
  return version >= 2 ? Crc32(slot + kManifestOffset, 8, crc) : crc;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static uint32_t table[256];
  static bool ready = [] {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return true;
  }();
  (void)ready;
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint64_t HashLink(const std::string& link) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : link) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::vector<uint8_t> EncodeRecordSlot(const ProgressRecord& record) {
  std::vector<uint8_t> slot(ProgressRecord::kSlotSize, 0);
  uint8_t* p = slot.data();
  Put32(p, kMagic);
  Put32(p + 4, kVersion);
  Put64(p + 8, record.sequence);
  Put64(p + 16, record.fileSize);
  Put64(p + 24, record.linkHash);
  std::memcpy(p + 32, record.h1.data(), record.h1.size() < 32 ? record.h1.size() : 32);
  uint32_t count = 0;
  for (const auto& r : record.done) {
    if (count == ProgressRecord::kMaxRanges) break;
    Put64(p + kRangesOffset + 16 * count, r.begin);
    Put64(p + kRangesOffset + 16 * count + 8, r.end);
    ++count;
  }
  uint32_t counts[2] = {0, 0};
  uint32_t used = count;
  int k = 0;
  for (const auto* list : {&record.verified, &record.pending}) {
    for (const auto& r : *list) {
      if (used == ProgressRecord::kMaxRanges) break;
      Put64(p + kRangesOffset + 16 * used, r.begin);
      Put64(p + kRangesOffset + 16 * used + 8, r.end);
      ++used;
      ++counts[k];
    }
    ++k;
  }
  Put64(p + kManifestOffset, record.manifestHash);
  Put32(p + kCountOffset, count | (counts[0] << 10) | (counts[1] << 20));
  Put32(p + kCrcOffset, SlotCrc(p, used, kVersion));
  return slot;
}

bool DecodeRecordSlot(const uint8_t* p, size_t size, ProgressRecord* record) {
  if (size < ProgressRecord::kSlotSize) return false;
  uint32_t version = Get32(p + 4);
  if (Get32(p) != kMagic || (version != 1 && version != kVersion)) return false;
  uint32_t field = Get32(p + kCountOffset);
  uint32_t count = version >= 2 ? field & 0x3FF : field;
  uint32_t verified = version >= 2 ? (field >> 10) & 0x3FF : 0;
  uint32_t pending = version >= 2 ? field >> 20 : 0;
  if (static_cast<uint64_t>(count) + verified + pending > ProgressRecord::kMaxRanges) return false;
  if (Get32(p + kCrcOffset) != SlotCrc(p, count + verified + pending, version)) return false;
  ProgressRecord r;
  r.sequence = Get64(p + 8);
  r.fileSize = Get64(p + 16);
  r.linkHash = Get64(p + 24);
  size_t h1Len = 0;
  while (h1Len < 32 && p[32 + h1Len] != 0) ++h1Len;
  r.h1.assign(reinterpret_cast<const char*>(p + 32), h1Len);
  for (uint32_t i = 0; i < count + verified + pending; ++i) {
    ByteRange range{Get64(p + kRangesOffset + 16 * i), Get64(p + kRangesOffset + 16 * i + 8)};
    // A range outside the file can only come from a damaged slot.
    if (range.begin >= range.end || range.end > r.fileSize) return false;
    (i < count ? r.done : i < count + verified ? r.verified : r.pending).push_back(range);
  }
  if (version >= 2) r.manifestHash = Get64(p + kManifestOffset);
  *record = std::move(r);
  return true;
}

bool DecodeRecordArea(const uint8_t* data, size_t size, ProgressRecord* record) {
  if (size < ProgressRecord::kAreaSize) return false;
  ProgressRecord a, b;
  bool okA = DecodeRecordSlot(data, ProgressRecord::kSlotSize, &a);
  bool okB = DecodeRecordSlot(data + ProgressRecord::kSlotSize, ProgressRecord::kSlotSize, &b);
  if (!okA && !okB) return false;
  if (okA && (!okB || a.sequence > b.sequence))
    *record = std::move(a);
  else
    *record = std::move(b);
  return true;
}

}  // namespace p2sp
