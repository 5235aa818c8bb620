#include "core/answer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace p2sp {
namespace {

// Answers as servers send them, header lines one by one as libcurl passes them.
Answer Read(const std::string& text) {
  Answer a;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) a.Feed(line + "\n");
  return a;
}

TEST(Answer, VerdictsOnRealAnswers) {
  const uint64_t size = 1000;
  AnswerContext range;  // a later ranged request of the link, asking from 500
  range.linkServer = true;
  range.asked = 500;
  range.size = size;
  AnswerContext probe = range;
  probe.probe = true;
  probe.asked = 0;
  AnswerContext extra = range;
  extra.linkServer = false;
  AnswerContext sole = range;
  sole.asked = 0;
  sole.soleFromStart = true;
  struct Case {
    const char* text;
    AnswerContext context;
    Verdict verdict;
  } cases[] = {
      {"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/1000\r\nContent-Length: 100\r\n\r\n", probe,
       Verdict::kLearnSize},
      {"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 500-599/1000\r\n\r\n", range, Verdict::kTake},
      {"HTTP/1.1 206 Partial Content\r\ncontent-range:bytes 500-599/1000\r\n\r\n", extra, Verdict::kTake},
      // Another start, another total, no total, or none at all.
      {"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 501-599/1000\r\n\r\n", range, Verdict::kRefuse},
      {"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 500-599/1001\r\n\r\n", range, Verdict::kOtherFile},
      {"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 500-599/1001\r\n\r\n", extra, Verdict::kOtherFile},
      {"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 500-599/*\r\n\r\n", range, Verdict::kRefuse},
      {"HTTP/1.1 206 Partial Content\r\nContent-Length: 100\r\n\r\n", range, Verdict::kRefuse},
      // 200 for a range: one stream on the first request or the sole
      // connection from 0, else the ranges are gone; an extra source is useless.
      {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", probe, Verdict::kStream},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", probe, Verdict::kStream},
      {"HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n", sole, Verdict::kStream},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", range, Verdict::kNoRanges},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", extra, Verdict::kNoRanges},
      {"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\n\r\n", range, Verdict::kRefuse},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n", probe, Verdict::kRefuse},
      {"HTTP/1.1 503 Service Unavailable\r\n\r\n", range, Verdict::kRefuse},
      // A redirect chain: only the last answer counts.
      {"HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Range: bytes 0-9/5\r\n\r\n"
       "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 500-599/1000\r\n\r\n",
       range, Verdict::kTake},
      {"HTTP/1.1 301 Moved\r\nLocation: /b\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", range,
       Verdict::kNoRanges},
  };
  for (const Case& c : cases) EXPECT_EQ(Judge(Read(c.text), c.context), c.verdict) << c.text;
}

TEST(Answer, LengthChunkedAndTheManifestLink) {
  Answer a = Read(
      "HTTP/1.1 200 OK\r\nContent-Length: 1234\r\nTransfer-Encoding: Chunked\r\n"
      "Link: <http://x/a.css>; rel=stylesheet, </files/g.bin.meta4>; rel=describedby; "
      "type=\"application/metalink4+xml\"\r\n\r\n");
  EXPECT_TRUE(a.hasLength);
  EXPECT_EQ(a.length, 1234u);
  EXPECT_TRUE(a.chunked);
  EXPECT_EQ(a.describedBy, "/files/g.bin.meta4");
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nLink: </g.xml>; rel=describedby; type=\"text/xml\"\r\n\r\n").describedBy, "");
  struct {
    const char *base, *ref, *want;
  } urls[] = {
      {"http://h:8/a/b.bin?x=1", "/m/b.meta4", "http://h:8/m/b.meta4"},
      {"http://h:8/a/b.bin?x=1", "b.bin.meta4", "http://h:8/a/b.bin.meta4"},
      {"https://h/a/b.bin", "//cdn/b.meta4", "https://cdn/b.meta4"},
      {"http://h/a/b.bin", "http://o/z.meta4", "http://o/z.meta4"},
  };
  for (const auto& u : urls) EXPECT_EQ(ResolveUrl(u.base, u.ref), u.want) << u.ref;
}

}  // namespace
}  // namespace p2sp
