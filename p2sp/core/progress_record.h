#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "range_set.h"

namespace p2sp {

// What a side file remembers about its download. It sits after the data in the
// ".P2P" file as two alternating slots of kSlotSize bytes, each with its own
// sequence number and checksum: a write torn by a crash spoils at most the slot
// being written, and the other one still describes flushed data.
struct ProgressRecord {
  static constexpr size_t kSlotSize = 8192;
  static constexpr size_t kAreaSize = 2 * kSlotSize;
  static constexpr size_t kMaxRanges = (kSlotSize - 72) / 16;

  uint64_t sequence = 0;
  uint64_t fileSize = 0;
  uint64_t linkHash = 0;
  std::string h1;  // lower-case MD5 text, or empty
  std::vector<ByteRange> done;
  // Pieces whose hash matched the manifest named by `manifestHash`
  // (HashLink of its whole-file SHA-256 text); 0 without a manifest.
  std::vector<ByteRange> verified;
  // Bytes of extra sources in pieces not yet verified: not done, but worth a
  // check against the same manifest before they are fetched again.
  std::vector<ByteRange> pending;
  uint64_t manifestHash = 0;
};

// One slot; ranges past kMaxRanges (done, verified and pending together) are
// left out, pending ones first, then verified ones (claiming less is always safe).
std::vector<uint8_t> EncodeRecordSlot(const ProgressRecord& record);
bool DecodeRecordSlot(const uint8_t* data, size_t size, ProgressRecord* record);
// Both slots: the valid one with the higher sequence number wins.
bool DecodeRecordArea(const uint8_t* data, size_t size, ProgressRecord* record);

uint64_t HashLink(const std::string& link);
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace p2sp
