#include "verify/file_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

uint8_t ByteAt(uint64_t offset) { return static_cast<uint8_t>((offset * 2654435761u) >> 13); }

// A file whose bytes are computed from their offset, so that files of many
// gigabytes cost nothing; it records how it is read.
class GeneratedFile : public IReadableFile {
 public:
  explicit GeneratedFile(uint64_t size) : m_size(size) {}
  bool Seek(uint64_t offset) override {
    seeks.push_back(offset);
    if (offset > m_size) return false;
    m_pos = offset;
    return true;
  }
  bool Read(void* buffer, size_t length, size_t* got) override {
    largestRequest = std::max(largestRequest, length);
    if (m_pos >= failAt) return false;
    uint64_t n = std::min<uint64_t>({length, m_size - m_pos, maxPerRead, failAt - m_pos});
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (uint64_t i = 0; i < n; ++i) out[i] = ByteAt(m_pos + i);
    m_pos += n;
    bytesRead += n;
    *got = static_cast<size_t>(n);
    return true;
  }
  // Sizes as a file that shrank after its size was read.
  void Truncate(uint64_t size) { m_size = size; }

  std::vector<uint64_t> seeks;
  size_t largestRequest = 0;
  uint64_t bytesRead = 0;
  uint64_t maxPerRead = UINT64_MAX;
  uint64_t failAt = UINT64_MAX;

 private:
  uint64_t m_size;
  uint64_t m_pos = 0;
};

Md5Digest DigestOfRange(uint64_t begin, uint64_t end) {
  Md5 md5;
  std::vector<uint8_t> chunk;
  for (uint64_t at = begin; at < end;) {
    uint64_t n = std::min<uint64_t>(end - at, 1 << 20);
    chunk.resize(static_cast<size_t>(n));
    for (uint64_t i = 0; i < n; ++i) chunk[static_cast<size_t>(i)] = ByteAt(at + i);
    md5.Update(chunk.data(), chunk.size());
    at += n;
  }
  return md5.Final();
}

const Md5Digest kZeroDigest = {};

}  // namespace

TEST(Md5OfFileTail, SmallFileIsDigestedWhole) {
  GeneratedFile file(1000);
  Md5Digest digest;
  ASSERT_TRUE(Md5OfFileTail(file, 1000, &digest));
  EXPECT_EQ(digest, DigestOfRange(0, 1000));
  EXPECT_TRUE(file.seeks.empty());
}

TEST(Md5OfFileTail, FileAtTheLimitIsDigestedWhole) {
  GeneratedFile file(kMd5TailLimit);
  Md5Digest digest;
  ASSERT_TRUE(Md5OfFileTail(file, kMd5TailLimit, &digest));
  EXPECT_EQ(digest, DigestOfRange(0, kMd5TailLimit));
  EXPECT_EQ(file.bytesRead, kMd5TailLimit);
}

TEST(Md5OfFileTail, OneByteOverTheLimitLeavesOutTheFirstByte) {
  GeneratedFile file(kMd5TailLimit + 1);
  Md5Digest digest;
  ASSERT_TRUE(Md5OfFileTail(file, kMd5TailLimit + 1, &digest));
  EXPECT_EQ(digest, DigestOfRange(1, kMd5TailLimit + 1));
  EXPECT_NE(digest, DigestOfRange(0, kMd5TailLimit));
  EXPECT_EQ(file.seeks, std::vector<uint64_t>{1});
}

TEST(Md5OfFileTail, HugeFileReadsOnlyItsTailInBoundedBlocks) {
  const uint64_t size = 5ull << 30;  // past every 32-bit offset
  GeneratedFile file(size);
  Md5Digest digest;
  ASSERT_TRUE(Md5OfFileTail(file, size, &digest));
  EXPECT_EQ(file.seeks, std::vector<uint64_t>{size - kMd5TailLimit});
  EXPECT_EQ(file.bytesRead, kMd5TailLimit);
  EXPECT_LE(file.largestRequest, kMd5ReadBlock);
  EXPECT_EQ(digest, DigestOfRange(size - kMd5TailLimit, size));
}

TEST(Md5OfFileTail, ShortReadsAreFollowedUp) {
  GeneratedFile file(300000);
  file.maxPerRead = 4099;
  Md5Digest digest;
  ASSERT_TRUE(Md5OfFileTail(file, 300000, &digest));
  EXPECT_EQ(digest, DigestOfRange(0, 300000));
}

TEST(Md5OfFileTail, FailuresLeaveTheZeroDigest) {
  Md5Digest digest;
  digest.fill(0xAB);
  GeneratedFile empty(0);
  EXPECT_FALSE(Md5OfFileTail(empty, 0, &digest));
  EXPECT_EQ(digest, kZeroDigest);

  GeneratedFile broken(5000);
  broken.failAt = 4096;
  digest.fill(0xAB);
  EXPECT_FALSE(Md5OfFileTail(broken, 5000, &digest));
  EXPECT_EQ(digest, kZeroDigest);

  // Shrunk after its size was taken: the missing bytes are not made up.
  GeneratedFile shrunk(kMd5TailLimit + 100);
  shrunk.Truncate(kMd5TailLimit + 50);
  digest.fill(0xAB);
  EXPECT_FALSE(Md5OfFileTail(shrunk, kMd5TailLimit + 100, &digest));
  EXPECT_EQ(digest, kZeroDigest);
}

TEST(Md5TextMatches, OnlyTheExactLowerCaseTextMatches) {
  Md5Digest digest = Md5Of("abc", 3);
  EXPECT_TRUE(Md5TextMatches(digest, L"900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_FALSE(Md5TextMatches(digest, L"900150983CD24FB0D6963F7D28E17F72"));
  EXPECT_FALSE(Md5TextMatches(digest, L"900150983cd24fb0d6963f7d28e17f72 "));
  EXPECT_FALSE(Md5TextMatches(digest, L"900150983cd24fb0d6963f7d28e17f7"));
  EXPECT_FALSE(Md5TextMatches(digest, L""));
  EXPECT_TRUE(Md5TextMatches(kZeroDigest, std::wstring(32, L'0')));
}

TEST(IsCompleteSize, SizeMustMatchAndNotBeZero) {
  EXPECT_TRUE(IsCompleteSize(100, 100));
  EXPECT_FALSE(IsCompleteSize(99, 100));
  EXPECT_FALSE(IsCompleteSize(101, 100));
  EXPECT_FALSE(IsCompleteSize(0, 0));
  EXPECT_TRUE(IsCompleteSize(5ull << 30, 5ull << 30));
  EXPECT_FALSE(IsCompleteSize(1ull << 32, 0));
}
