#include "figures.h"
#include "report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReportFields, ByteCountsAreNumbersOfAtMostFifteenDigits) {
  const struct {
    const char* tail;  // after an otherwise good CompleteDownload
    const char* pb;    // null: absent
    const char* ps;
    bool malformed;
  } cases[] = {
      {"", nullptr, nullptr, false},  // an older program's report
      {"&pb=0&ps=0", "0", "0", false},
      {"&pb=999999999999999&ps=00012", "999999999999999", "00012", false},
      {"&pb=1000000000000000&ps=1", nullptr, "1", true},
      {"&pb=&ps=1", nullptr, "1", true},
      {"&pb=-5&ps=+5", nullptr, nullptr, true},
      {"&pb=1.5&ps=1e3", nullptr, nullptr, true},
      {"&pb=%31&ps=1", nullptr, "1", true},  // nothing is decoded
      {"&pb=7&ps=1&pb=8", "7", "1", true},
  };
  for (const auto& c : cases) {
    const Report r = ParseReportTarget(std::string("/s.php?action=5&cg=1&game=g&mid=m&ver=1") + c.tail);
    EXPECT_EQ(r.pb.has, c.pb != nullptr) << c.tail;
    EXPECT_EQ(r.pb.value, c.pb ? c.pb : "") << c.tail;
    EXPECT_EQ(r.ps.has, c.ps != nullptr) << c.tail;
    EXPECT_EQ(r.ps.value, c.ps ? c.ps : "") << c.tail;
    EXPECT_EQ(r.malformed, c.malformed) << c.tail;
    EXPECT_EQ(r.cg.value, "1") << c.tail;
  }
}

// The answer's quick check and the full parse stored later follow one rule;
// a field's length is the length it is stored with (bad bytes as %XX).
TEST(ReportFields, TheQuickCheckAgreesWithTheFullParse) {
  const std::string bad(86, '\xff');   // 258 bytes once written as %FF
  const std::string fits(85, '\x01');  // 255
  const std::string wide(128, 'x');     // "\xc3\xa9" 128 times: 256 bytes, as sent
  std::string accents;
  for (int i = 0; i < 128; ++i) accents += "\xc3\xa9";
  const struct {
    std::string target;
    bool malformed;
  } cases[] = {
      {"/s.php?action=1&game=g&mid=m&ver=1", false},
      {"/s.php", true},
      {"/s.php?", true},
      {"/s.php?action=1&mid=" + bad, true},
      {"/s.php?action=1&mid=" + fits, false},
      {"/s.php?action=1&mid=" + accents, false},
      {"/s.php?action=1&mid=" + accents + "x", true},
      {"/s.php?action=1&mid=" + wide + wide + "x", true},
      {"/s.php?action=1&mid=" + bad + "&mid=m", true},
      {"/s.php?action=\xd9\xa1", true},
      {"/s.php?action=1&&mid=m", true},
      {"/s.php?game&action=1", true},
      {"/s.php?action=1&action=2", true},
      {"/s.php?action=5&cg=1&pb=12&ps=1x", true},
      {"/s.php?action=1234567890", true},
      {"/s.php?action=1&unknown=\xff", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseReportTarget(c.target).malformed, c.malformed) << c.target;
    EXPECT_EQ(ReportMalformed(c.target), c.malformed) << c.target;
  }
}

// Well-formed UTF-8 is kept; control bytes and every byte of what is not
// UTF-8 (overlong, surrogate, past U+10FFFF, cut short) are written as %XX.
TEST(CleanText, KeepsUtf8AndEscapesTheRest) {
  const struct {
    const char* raw;
    const char* clean;
  } cases[] = {
      {"a\xE6\xB8\xB8\xF0\x9F\x98\x80z", "a\xE6\xB8\xB8\xF0\x9F\x98\x80z"},
      {"a\tb\x7F", "a%09b%7F"},
      {"\xC0\xAF", "%C0%AF"},
      {"\xED\xA0\x80x", "%ED%A0%80x"},
      {"\xF4\x90\x80\x80", "%F4%90%80%80"},
      {"\xE6\xB8", "%E6%B8"},
  };
  for (const auto& c : cases) EXPECT_EQ(CleanText(c.raw), c.clean) << c.raw;
}

TEST(SharingFigures, ShareOfTheDeliveredBytesFromPlayers) {
  const struct {
    double peerBytesSized, delivered, share;
  } cases[] = {
      {0, 0, -1},  // no size known
      {500, 0, -1},
      {0, 3000, 0},
      {1200, 3000, 0.4},
      {3000, 3000, 1},
      {4500, 3000, 1},  // more than the size (a file fetched twice): all of it
  };
  for (const auto& c : cases) {
    SharingFigures s;
    s.peerBytesSized = c.peerBytesSized;
    s.deliveredBytes = c.delivered;
    EXPECT_DOUBLE_EQ(s.Share(), c.share) << c.peerBytesSized << " of " << c.delivered;
  }
}

}  // namespace
