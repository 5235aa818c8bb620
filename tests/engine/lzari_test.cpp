#include "engine/lzari.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& input) {
  std::vector<uint8_t> packed = LzariPack(input.data(), input.size());
  std::vector<uint8_t> out;
  LzariStatus status = LzariUnpack(packed.data(), packed.size(), out);
  EXPECT_EQ(status, LzariStatus::kOk) << LzariStatusText(status);
  return out;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng() % alphabet);
  return v;
}

std::vector<uint8_t> Text(size_t n) {
  static const char* words[] = {"download", "engine", "the", "game", "file", "server", "of", "a",  "resume",
                                "packed",   "window", "到",  "下载", "\r\n", "speed",  ",",  "and"};
  std::mt19937 rng(7);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % (sizeof words / sizeof *words)];
    s += ' ';
  }
  s.resize(n);
  return Bytes(s);
}

// Something shaped like a PE image: headers, zero padding, code-like
// sequences with repeated opcodes and little-endian addresses, string tables.
std::vector<uint8_t> ExecutableLike(size_t n) {
  std::vector<uint8_t> v;
  std::string header = "MZ\x90";
  header += std::string(57, '\0');
  header += "This program cannot be run in DOS mode.\r\r\n$";
  v.insert(v.end(), header.begin(), header.end());
  v.resize(1024, 0);
  std::mt19937 rng(11);
  while (v.size() < n) {
    switch (rng() % 4) {
      case 0: {
        uint32_t addr = 0x401000 + (rng() % 0x4000) * 4;
        uint8_t call[] = {0xe8, uint8_t(addr), uint8_t(addr >> 8), uint8_t(addr >> 16), uint8_t(addr >> 24)};
        v.insert(v.end(), call, call + 5);
        break;
      }
      case 1: {
        uint8_t prologue[] = {0x55, 0x89, 0xe5, 0x83, 0xec, uint8_t(rng() % 64), 0x8b, 0x45, 0x08};
        v.insert(v.end(), prologue, prologue + 9);
        break;
      }
      case 2:
        v.push_back(static_cast<uint8_t>(rng()));
        break;
      default: {
        const char* name = rng() % 2 ? "GetProcAddress" : "LoadLibraryW";
        v.insert(v.end(), name, name + std::strlen(name));
        v.push_back(0);
      }
    }
  }
  v.resize(n);
  return v;
}

TEST(LzariRoundTrip, KindsOfInput) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases = {
      {"one byte", {0x41}},
      {"one space", {' '}},
      {"two bytes", {0, 0}},
      {"three spaces", Bytes("   ")},
      {"all spaces", std::vector<uint8_t>(20000, ' ')},
      {"all zero", std::vector<uint8_t>(300000, 0)},
      {"random", RandomBytes(100000, 1)},
      {"small alphabet", RandomBytes(100000, 2, 3)},
      {"text", Text(200000)},
      {"executable", ExecutableLike(300000)},
      // Period longer than the ring, so no match can reach its copy.
      {"period beyond the ring",
       [] {
         std::vector<uint8_t> block = RandomBytes(5000, 3);
         std::vector<uint8_t> v = block;
         v.insert(v.end(), block.begin(), block.end());
         return v;
       }()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundTrip(c.data), c.data) << c.name;
  }
}

TEST(LzariRoundTrip, MatchesOfEveryLengthAndTheLongest) {
  // A run of n repeats of a short random block followed by a break exercises
  // matches of length 3..60 and the cut at 60.
  std::vector<uint8_t> v;
  std::mt19937 rng(5);
  for (int len = 3; len <= 130; ++len) {
    std::vector<uint8_t> block = RandomBytes(len, 100 + len);
    v.insert(v.end(), block.begin(), block.end());
    v.insert(v.end(), block.begin(), block.end());
    v.push_back(static_cast<uint8_t>(rng()));
  }
  EXPECT_EQ(RoundTrip(v), v);
  // Exactly one longest match after a literal, and lengths around it at the end.
  for (size_t n : {61u, 62u, 63u, 120u, 121u, 122u}) {
    std::vector<uint8_t> same(n, 'x');
    EXPECT_EQ(RoundTrip(same), same) << n;
  }
}

TEST(LzariRoundTrip, LengthsAroundTheRingSize) {
  for (size_t n : {4035u, 4036u, 4037u, 4095u, 4096u, 4097u, 8192u}) {
    std::vector<uint8_t> v = RandomBytes(n, static_cast<uint32_t>(n), 4);
    EXPECT_EQ(RoundTrip(v), v) << n;
  }
}

TEST(LzariEncode, UsesTheInitialSpacesAndCompressesRuns) {
  // Sixty spaces right at the start can only be one match into the ring's
  // initial spaces: a literal-only stream would take far more bits.
  std::vector<uint8_t> spaces(60, ' ');
  std::vector<uint8_t> literalsOnly =
      LzariEncode(Bytes("abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWX").data(), 60);
  std::vector<uint8_t> stream = LzariEncode(spaces.data(), spaces.size());
  EXPECT_LT(stream.size(), 4u);
  EXPECT_GT(literalsOnly.size(), 40u);

  std::vector<uint8_t> zeros(1 << 20, 0);
  std::vector<uint8_t> packed = LzariPack(zeros.data(), zeros.size());
  // Runs compress a long way, yet stay inside the ratio the unpacker accepts.
  EXPECT_LT(packed.size(), zeros.size() / 40);
  std::vector<uint8_t> out;
  EXPECT_EQ(LzariUnpack(packed.data(), packed.size(), out), LzariStatus::kOk);
  EXPECT_EQ(out, zeros);
}

TEST(LzariPack, HeaderIsTheLittleEndianLength) {
  std::vector<uint8_t> v = RandomBytes(0x012345, 9);
  std::vector<uint8_t> packed = LzariPack(v.data(), v.size());
  ASSERT_GE(packed.size(), 4u);
  EXPECT_EQ(packed[0], 0x45);
  EXPECT_EQ(packed[1], 0x23);
  EXPECT_EQ(packed[2], 0x01);
  EXPECT_EQ(packed[3], 0x00);
}

TEST(LzariUnpack, RefusesImpossibleHeaders) {
  std::vector<uint8_t> text = Text(5000);
  std::vector<uint8_t> packed = LzariPack(text.data(), text.size());
  std::vector<uint8_t> out;
  auto withLength = [&](uint32_t n) {
    std::vector<uint8_t> p = packed;
    p[0] = uint8_t(n);
    p[1] = uint8_t(n >> 8);
    p[2] = uint8_t(n >> 16);
    p[3] = uint8_t(n >> 24);
    return p;
  };
  EXPECT_EQ(LzariUnpack(packed.data(), 3, out), LzariStatus::kNoHeader);
  EXPECT_EQ(LzariUnpack(nullptr, 0, out), LzariStatus::kNoHeader);
  auto zero = withLength(0);
  EXPECT_EQ(LzariUnpack(zero.data(), zero.size(), out), LzariStatus::kEmpty);
  auto huge = withLength(256u * 1024 * 1024 + 1);
  EXPECT_EQ(LzariUnpack(huge.data(), huge.size(), out), LzariStatus::kTooLarge);
  auto all = withLength(0xffffffffu);
  EXPECT_EQ(LzariUnpack(all.data(), all.size(), out), LzariStatus::kTooLarge);
  size_t streamSize = packed.size() - 4;
  auto over = withLength(static_cast<uint32_t>(64 * streamSize + 65));
  EXPECT_EQ(LzariUnpack(over.data(), over.size(), out), LzariStatus::kImplausible);
  EXPECT_TRUE(out.empty());
  // At the limit itself the header is believed and the stream decides.
  auto limit = withLength(static_cast<uint32_t>(64 * streamSize + 64));
  EXPECT_NE(LzariUnpack(limit.data(), limit.size(), out), LzariStatus::kImplausible);
}

TEST(LzariUnpack, TruncatedStreamsStopCleanly) {
  std::vector<uint8_t> v = ExecutableLike(50000);
  std::vector<uint8_t> packed = LzariPack(v.data(), v.size());
  std::vector<uint8_t> out;
  // Cutting off a good part of the stream must be noticed; only the last
  // couple of bytes may be made up by padding.
  for (size_t keep : {size_t(4), size_t(5), size_t(100), packed.size() / 2, packed.size() - 10}) {
    LzariStatus status = LzariUnpack(packed.data(), keep, out);
    EXPECT_TRUE(status == LzariStatus::kTruncated || status == LzariStatus::kImplausible) << keep;
    EXPECT_TRUE(out.empty()) << keep;
  }
  for (size_t cut = 1; cut <= 3; ++cut) {
    LzariStatus status = LzariUnpack(packed.data(), packed.size() - cut, out);
    if (status == LzariStatus::kOk) {
      EXPECT_EQ(out.size(), v.size());
    }
  }
}

TEST(LzariUnpack, CorruptedStreamsGiveTheStatedLengthOrFail) {
  std::vector<uint8_t> v = Text(30000);
  std::vector<uint8_t> packed = LzariPack(v.data(), v.size());
  std::mt19937 rng(3);
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> bad = packed;
    size_t at = 4 + rng() % (bad.size() - 4);
    bad[at] ^= static_cast<uint8_t>(1 + rng() % 255);
    std::vector<uint8_t> out;
    LzariStatus status = LzariUnpack(bad.data(), bad.size(), out);
    if (status == LzariStatus::kOk) {
      EXPECT_EQ(out.size(), v.size());
    } else {
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST(LzariDecode, LastMatchIsCutAtTheStatedLength) {
  // 120 'x': a literal and two matches. Asking for fewer bytes stops inside a
  // match without writing past the end.
  std::vector<uint8_t> v(120, 'x');
  std::vector<uint8_t> stream = LzariEncode(v.data(), v.size());
  for (size_t n : {1u, 2u, 30u, 61u, 62u, 100u}) {
    std::vector<uint8_t> out;
    EXPECT_EQ(LzariDecode(stream.data(), stream.size(), n, out), LzariStatus::kOk) << n;
    EXPECT_EQ(out, std::vector<uint8_t>(n, 'x'));
  }
}

// Worked by hand from the published coder: 'A' under the starting model is
// symbol 66 of 314, which narrows [0, 0x20000) to [103521, 103939) and gives
// the bits 1100101, then 01 at the end: 0xCA 0x80.
TEST(LzariFormat, OneLiteralByHand) {
  std::vector<uint8_t> stream = {0xca, 0x80};
  std::vector<uint8_t> out;
  EXPECT_EQ(LzariDecode(stream.data(), stream.size(), 1, out), LzariStatus::kOk);
  EXPECT_EQ(out, Bytes("A"));
  uint8_t a = 'A';
  EXPECT_EQ(LzariEncode(&a, 1), stream);
}

TEST(LzariDecode, EmptyStreamForEmptyInput) {
  std::vector<uint8_t> stream = LzariEncode(nullptr, 0);
  std::vector<uint8_t> out{1, 2, 3};
  EXPECT_EQ(LzariDecode(stream.data(), stream.size(), 0, out), LzariStatus::kOk);
  EXPECT_TRUE(out.empty());
}

}  // namespace
