#include "net/http_body.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Event {
  int code;
  uint32_t sofar, total;
  bool operator==(const Event& o) const { return code == o.code && sofar == o.sofar && total == o.total; }
};

// Serves a body in the given read sizes; an entry of -1 is a failed read.
class FakeIo : public HttpBodyIo {
 public:
  explicit FakeIo(std::vector<int> reads) : m_reads(std::move(reads)) {}
  bool Read(void*, uint32_t capacity, uint32_t* got) override {
    *got = 0;
    if (m_next++ >= m_reads.size()) return true;
    int n = m_reads[m_next - 1];
    if (n < 0) return false;
    EXPECT_LE(static_cast<uint32_t>(n), capacity);
    *got = static_cast<uint32_t>(n);
    return true;
  }
  bool Write(const void*, uint32_t size) override {
    if (failWritesAfter >= 0 && static_cast<int>(written) + static_cast<int>(size) > failWritesAfter) return false;
    written += size;
    return true;
  }
  void Event(uint32_t sofar, uint32_t total, int code) override { events.push_back({code, sofar, total}); }

  std::vector<::Event> events;
  uint32_t written = 0;
  int failWritesAfter = -1;
  size_t ReadsMade() const { return m_next; }

 private:
  std::vector<int> m_reads;
  size_t m_next = 0;
};

}  // namespace

TEST(ReadHttpBody, KnownLengthStopsAtLengthWithOneProgressEvent) {
  FakeIo io({1024, 1024, 452, 999});
  EXPECT_TRUE(ReadHttpBody(io, true, 2500));
  std::vector<Event> expected = {{4, 0, 0}, {5, 1024, 2500}, {6, 0, 0}};
  EXPECT_EQ(io.events, expected);
  EXPECT_EQ(io.ReadsMade(), 3u);  // the loop ends without asking for more
  EXPECT_EQ(io.written, 2500u);
}

TEST(ReadHttpBody, ProgressAfterBlocksOneAndElevenWithoutLength) {
  std::vector<int> reads(10, 1024);
  reads.push_back(500);
  FakeIo io(reads);
  EXPECT_TRUE(ReadHttpBody(io, false, 0));
  std::vector<Event> expected = {{4, 0, 0}, {5, 1024, 0}, {5, 10740, 0}, {6, 0, 0}};
  EXPECT_EQ(io.events, expected);
  EXPECT_EQ(io.ReadsMade(), 12u);  // the 12th read returns 0 bytes and ends it
}

TEST(ReadHttpBody, TwentyFirstBlockRaisesThirdProgress) {
  FakeIo io(std::vector<int>(21, 1024));
  EXPECT_TRUE(ReadHttpBody(io, false, 0));
  ASSERT_EQ(io.events.size(), 5u);
  EXPECT_EQ(io.events[3], (Event{5, 21 * 1024, 0}));
}

TEST(ReadHttpBody, ShortBodyWithLengthFails) {
  FakeIo io({1024, 200});
  EXPECT_FALSE(ReadHttpBody(io, true, 2500));
  EXPECT_EQ(io.events.back(), (Event{6, 0, 0}));
}

TEST(ReadHttpBody, BrokenReadWithoutLengthKeepsWhatArrived) {
  FakeIo io({1024, -1});
  EXPECT_TRUE(ReadHttpBody(io, false, 0));
  EXPECT_EQ(io.written, 1024u);
}

TEST(ReadHttpBody, CapAndChunkedFramingDecideTheOutcome) {
  struct Case {
    std::vector<int> reads;
    bool hasLength;
    uint32_t length;
    bool chunked;
    uint32_t cap;
    bool whole;
    uint32_t written;
  };
  const Case cases[] = {
      {{1024, 1024, 100}, false, 0, false, 2148, true, 2148},
      {{1024, 1024, 100}, false, 0, false, 2147, false, 2048},  // one byte over: nothing past the cap kept
      {{1024, 1024, 100}, true, 2148, false, 2147, false, 0},   // announced over the cap: not even read
      {{1024, 1024, 100}, false, 0, true, 0, true, 2148},
      {{1024, -1}, false, 0, true, 0, false, 1024},  // chunked body cut before its last chunk
      {{1024, -1}, false, 0, false, 0, true, 1024},  // unframed: the end of the connection ends it
  };
  for (const Case& c : cases) {
    FakeIo io(c.reads);
    EXPECT_EQ(ReadHttpBody(io, c.hasLength, c.length, c.chunked, c.cap), c.whole) << c.cap;
    EXPECT_EQ(io.written, c.written) << c.cap;
    EXPECT_EQ(io.events.back(), (Event{6, 0, 0}));
  }
}

TEST(ReadHttpBody, EmptyBodies) {
  FakeIo withLength({});
  EXPECT_TRUE(ReadHttpBody(withLength, true, 0));
  std::vector<Event> expected = {{4, 0, 0}, {6, 0, 0}};
  EXPECT_EQ(withLength.events, expected);
  FakeIo promised({});
  EXPECT_FALSE(ReadHttpBody(promised, true, 10));
}

TEST(ReadHttpBody, FileThatCannotTakeTheBodyFails) {
  FakeIo io({1024, 1024, 452});
  io.failWritesAfter = 1500;
  EXPECT_FALSE(ReadHttpBody(io, true, 2500));
  EXPECT_EQ(io.events.back(), (Event{6, 0, 0}));
}

TEST(IsConnectedState, NeedsALinkAndNoOfflineFlag) {
  EXPECT_TRUE(IsConnectedState(true, 0x02));
  EXPECT_TRUE(IsConnectedState(true, 0x12));  // LAN | RAS installed, as Wine answers
  EXPECT_TRUE(IsConnectedState(true, 0x01));
  EXPECT_TRUE(IsConnectedState(true, 0x04));
  EXPECT_FALSE(IsConnectedState(true, 0x10));
  EXPECT_FALSE(IsConnectedState(true, 0x22));
  EXPECT_FALSE(IsConnectedState(false, 0x02));
  EXPECT_FALSE(IsConnectedState(true, 0));
}
