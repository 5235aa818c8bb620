#include "core/progress_record.h"

#include <gtest/gtest.h>

namespace p2sp {
namespace {

ProgressRecord Sample(uint64_t seq) {
  ProgressRecord r;
  r.sequence = seq;
  r.fileSize = (6ull << 30) + 7;
  r.linkHash = HashLink("http://h/a.bin");
  r.h1 = "0123456789abcdef0123456789abcdef";
  r.done = {{0, 1000}, {5ull << 30, (6ull << 30) + 7}};
  return r;
}

std::vector<uint8_t> Area(const ProgressRecord& a, const ProgressRecord& b) {
  std::vector<uint8_t> area = EncodeRecordSlot(a);
  std::vector<uint8_t> second = EncodeRecordSlot(b);
  area.insert(area.end(), second.begin(), second.end());
  return area;
}

TEST(ProgressRecord, RoundTripKeepsEveryField) {
  ProgressRecord in = Sample(42), out;
  std::vector<uint8_t> slot = EncodeRecordSlot(in);
  ASSERT_EQ(slot.size(), ProgressRecord::kSlotSize);
  ASSERT_TRUE(DecodeRecordSlot(slot.data(), slot.size(), &out));
  EXPECT_EQ(out.sequence, 42u);
  EXPECT_EQ(out.fileSize, in.fileSize);
  EXPECT_EQ(out.linkHash, in.linkHash);
  EXPECT_EQ(out.h1, in.h1);
  EXPECT_EQ(out.done, in.done);
}

TEST(ProgressRecord, AnyFlippedByteOrTornTailIsRejected) {
  std::vector<uint8_t> slot = EncodeRecordSlot(Sample(1));
  ProgressRecord out;
  for (size_t at : {size_t{0}, size_t{9}, size_t{20}, size_t{40}, size_t{64}, size_t{68}, size_t{80}, size_t{100}}) {
    std::vector<uint8_t> bad = slot;
    bad[at] ^= 0x01;
    EXPECT_FALSE(DecodeRecordSlot(bad.data(), bad.size(), &out)) << at;
  }
  std::vector<uint8_t> torn = slot;
  std::fill(torn.begin() + 50, torn.end(), 0);  // write stopped half way
  EXPECT_FALSE(DecodeRecordSlot(torn.data(), torn.size(), &out));
  EXPECT_FALSE(DecodeRecordSlot(slot.data(), slot.size() - 1, &out));
}

TEST(ProgressRecord, RangesOutsideTheFileAreRejectedEvenWithAGoodChecksum) {
  ProgressRecord r = Sample(1);
  r.done.push_back({r.fileSize, r.fileSize + 1});
  std::vector<uint8_t> slot = EncodeRecordSlot(r);
  ProgressRecord out;
  EXPECT_FALSE(DecodeRecordSlot(slot.data(), slot.size(), &out));
}

TEST(ProgressRecord, AreaPicksTheNewerValidSlot) {
  ProgressRecord out;
  std::vector<uint8_t> area = Area(Sample(8), Sample(7));
  ASSERT_TRUE(DecodeRecordArea(area.data(), area.size(), &out));
  EXPECT_EQ(out.sequence, 8u);
  area = Area(Sample(3), Sample(4));
  ASSERT_TRUE(DecodeRecordArea(area.data(), area.size(), &out));
  EXPECT_EQ(out.sequence, 4u);
  // The newer slot torn by a crash: the older one still counts.
  area[ProgressRecord::kSlotSize + 70] ^= 0xFF;
  ASSERT_TRUE(DecodeRecordArea(area.data(), area.size(), &out));
  EXPECT_EQ(out.sequence, 3u);
  area[70] ^= 0xFF;
  EXPECT_FALSE(DecodeRecordArea(area.data(), area.size(), &out));
  std::vector<uint8_t> zeros(ProgressRecord::kAreaSize, 0);
  EXPECT_FALSE(DecodeRecordArea(zeros.data(), zeros.size(), &out));
}

TEST(ProgressRecord, TooManyRangesKeepsAPrefixThatStillDecodes) {
  ProgressRecord r = Sample(1);
  r.done.clear();
  for (uint64_t i = 0; i < ProgressRecord::kMaxRanges + 50; ++i) r.done.push_back({i * 10, i * 10 + 5});
  std::vector<uint8_t> slot = EncodeRecordSlot(r);
  ProgressRecord out;
  ASSERT_TRUE(DecodeRecordSlot(slot.data(), slot.size(), &out));
  ASSERT_EQ(out.done.size(), ProgressRecord::kMaxRanges);
  EXPECT_EQ(out.done.back(), r.done[ProgressRecord::kMaxRanges - 1]);
}

TEST(ProgressRecord, VerifiedPiecesAndTheManifestTravelAndOldSlotsStillDecode) {
  ProgressRecord in = Sample(3), out;
  in.verified = {{0, 4096}, {8192, 12288}};
  in.pending = {{4096, 5000}};
  in.manifestHash = 0x0123456789abcdefull;
  std::vector<uint8_t> slot = EncodeRecordSlot(in);
  ASSERT_TRUE(DecodeRecordSlot(slot.data(), slot.size(), &out));
  EXPECT_EQ(out.done, in.done);
  EXPECT_EQ(out.verified, in.verified);
  EXPECT_EQ(out.pending, in.pending);
  EXPECT_EQ(out.manifestHash, in.manifestHash);
  slot[ProgressRecord::kSlotSize - 3] ^= 1;  // the manifest's hash is under the checksum too
  EXPECT_FALSE(DecodeRecordSlot(slot.data(), slot.size(), &out));

  // A version 1 slot (written before pieces were verified): no verified pieces.
  std::vector<uint8_t> v1 = EncodeRecordSlot(Sample(4));
  v1[4] = 1;
  uint32_t crc = Crc32(v1.data(), 68);
  crc = Crc32(v1.data() + 72, 2 * 16, crc);
  for (int i = 0; i < 4; ++i) v1[68 + i] = static_cast<uint8_t>(crc >> (8 * i));
  ASSERT_TRUE(DecodeRecordSlot(v1.data(), v1.size(), &out));
  EXPECT_EQ(out.done, Sample(4).done);
  EXPECT_TRUE(out.verified.empty());
  EXPECT_EQ(out.manifestHash, 0u);
}

TEST(ProgressRecord, Crc32MatchesTheStandardCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(text), 9), 0xCBF43926u);
  EXPECT_NE(HashLink("http://a/x"), HashLink("http://a/y"));
}

}  // namespace
}  // namespace p2sp
