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
