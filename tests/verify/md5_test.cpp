#include "verify/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const std::string& message) { return FormatMd5Text(Md5Of(message.data(), message.size())); }

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(gen());
  return bytes;
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"), "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundaries) {
  // Lengths around the 56-byte point where the length field spills into a
  // second block, and around whole blocks.
  EXPECT_EQ(Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Hex(std::string(57, 'a')), "652b906d60af96844ebd21b674f35e93");
  EXPECT_EQ(Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
  EXPECT_EQ(Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
}

TEST(Md5, PiecesOfAnySizeGiveTheSameDigest) {
  const std::vector<uint8_t> data = RandomBytes(1000, 7);
  const Md5Digest whole = Md5Of(data.data(), data.size());
  for (size_t piece : {1u, 3u, 63u, 64u, 65u, 127u, 500u}) {
    Md5 md5;
    for (size_t at = 0; at < data.size(); at += piece) {
      md5.Update(data.data() + at, std::min(piece, data.size() - at));
    }
    EXPECT_EQ(md5.Final(), whole) << "pieces of " << piece;
  }
  Md5 reused;
  reused.Update("junk", 4);
  reused.Final();
  reused.Update(data.data(), data.size());
  EXPECT_EQ(reused.Final(), whole) << "Final leaves the object ready for a new message";
}

TEST(Md5, TextIsLowerCaseHexInByteOrder) {
  Md5Digest digest;
  for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(i * 17);
  EXPECT_EQ(FormatMd5Text(digest), "00112233445566778899aabbccddeeff");
  digest.fill(0);
  EXPECT_EQ(FormatMd5Text(digest), std::string(32, '0'));
}

#ifndef _WIN32
TEST(Md5, AgreesWithMd5sum) {
  for (size_t size : {1u, 4095u, 1048576u + 3u, 3000017u}) {
    const std::vector<uint8_t> data = RandomBytes(size, static_cast<unsigned>(size));
    char path[] = "/tmp/gd-md5-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* f = fdopen(fd, "wb");
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size());
    fclose(f);
    FILE* pipe = popen(("md5sum " + std::string(path)).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
    pclose(pipe);
    std::remove(path);
    EXPECT_EQ(FormatMd5Text(Md5Of(data.data(), data.size())), std::string(line, 32)) << size << " bytes";
  }
}
#endif
