#include "contract/engine_contract.h"

#include <gtest/gtest.h>

#include <vector>

using namespace engine_contract;

namespace {

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

}  // namespace

TEST(EngineContract, StatusRecordRoundTripsAtItsOffsetsLittleEndian) {
  TaskStatus in;
  in.total = 0x0102030405060708ull;
  in.done = (5ull << 32) + 7;
  in.linkSpeed = 0xA1B2C3D4u;
  in.otherSpeed = 42;
  in.state = kTaskStateFailedCheck;
  in.peerBytes = 0x1122334455667788ull;
  in.servedBytes = 9;
  std::vector<uint8_t> record(kStatusRecordSize, 0xEE);
  EncodeStatus(in, record.data());
  EXPECT_EQ(record[kTotalOffset], 0x08);
  EXPECT_EQ(record[kTotalOffset + 7], 0x01);
  EXPECT_EQ(record[kLinkSpeedOffset], 0xD4);
  EXPECT_EQ(record[kStateOffset], 6);
  EXPECT_EQ(record[kStateOffset - 1], 0xEE) << "bytes outside the fields are not touched";
  const TaskStatus out = DecodeStatus(record.data());
  EXPECT_EQ(out.total, in.total);
  EXPECT_EQ(out.done, in.done);
  EXPECT_EQ(out.linkSpeed, in.linkSpeed);
  EXPECT_EQ(out.otherSpeed, in.otherSpeed);
  EXPECT_EQ(out.state, in.state);
  EXPECT_EQ(out.peerBytes, in.peerBytes);
  EXPECT_EQ(out.servedBytes, in.servedBytes);
  EXPECT_EQ(record[kPeerBytesOffset], 0x88);
}

TEST(EngineContract, TaskLinkTheProgramBuildsIsTheOneTheEngineReads) {
  struct Case {
    const wchar_t* url;
    const wchar_t* md5;
    const char* h1;
    bool valid;
  } cases[] = {
      {L"http://dl.example.invalid/game/setup.exe", L"0123456789abcdef0123456789abcdef",
       "0123456789abcdef0123456789abcdef", true},
      {L"https://h/x.bin?a=1&h1=2", L"0123456789ABCDEF0123456789ABCDEF", "0123456789abcdef0123456789abcdef", true},
      {L"http://h/x.bin", L"", "", true},  // no MD5 text: the engine checks nothing
      {L"http://h/x.bin", L"12345", "12345", false},
      {L"ftp://h/x.bin", L"0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef", false},
  };
  for (const Case& c : cases) {
    const std::wstring link = BuildTaskLink(c.url, c.md5);
    const TaskLink parsed = ParseTaskLink(Narrow(link));
    EXPECT_EQ(parsed.valid, c.valid) << Narrow(link);
    if (c.valid) {
      EXPECT_EQ(parsed.url, Narrow(c.url)) << Narrow(link);
    }
    EXPECT_EQ(parsed.h1, c.h1) << Narrow(link);
  }
  EXPECT_EQ(BuildTaskLink(L"http://a/b.exe", L"abc"), L"PDown://b7=1|http://a/b.exe|h1=abc");
}

TEST(EngineContract, Md5TextCoversTheWholeFileUpTo50MiBThenItsTail) {
  const uint64_t cases[][2] = {
      {0, 0}, {1, 0}, {kMd5TailBytes, 0}, {kMd5TailBytes + 1, 1}, {5ull << 30, (5ull << 30) - kMd5TailBytes}};
  for (const auto& c : cases) EXPECT_EQ(Md5RangeStart(c[0]), c[1]) << c[0];
}

TEST(EngineContract, OptionTextsTravelAsUtf16AndComeBackAsUtf8) {
  const std::u16string units = EncodeOptionText(L"http://s/\x79CD" + std::wstring(L"\U0001F331"));
  EXPECT_EQ(units, u"http://s/\u79CD\U0001F331");
  EXPECT_EQ(OptionTextBytes(units), 2 * 12);
  std::string bytes;
  for (char16_t u : units) bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  EXPECT_EQ(DecodeOptionText(bytes.data(), static_cast<int>(bytes.size())), "http://s/\xE7\xA7\x8D\xF0\x9F\x8C\xB1");
  // A terminator sent along, and an odd last byte, are not part of the text.
  EXPECT_EQ(DecodeOptionText("a\0b\0\0\0x", 7), "ab");
  EXPECT_EQ(DecodeOptionText(nullptr, 4), "");
}

TEST(EngineContract, SideFileSitsBesideTheTargetInBothWidths) {
  EXPECT_EQ(SideFilePath(std::string("/d/game.bin")), "/d/game.bin.P2P");
  EXPECT_EQ(SideFilePath(std::wstring(L"C:\\d\\\x6E38.bin")), L"C:\\d\\\x6E38.bin.P2P");
}
