#pragma once

#include <cstdint>
#include <string>

namespace p2sp {

// A Content-Range value: "bytes 0-99/1000", "bytes */1000", "bytes 0-99/*".
constexpr uint64_t kUnknownTotal = UINT64_MAX;
struct ContentRange {
  bool valid = false;
  uint64_t first = kUnknownTotal, last = kUnknownTotal, total = kUnknownTotal;
};
ContentRange ParseContentRange(const std::string& value);

// What one HTTP answer said about its body, from its status line and headers.
struct Answer {
  long status = 0;
  ContentRange range;
  bool hasLength = false;
  uint64_t length = 0;
  bool chunked = false;
  // The target of a `Link: <...>; rel=describedby; type="application/metalink4+xml"`.
  std::string describedBy;

  // One header line as libcurl passes it; a status line starts a new answer
  // (each answer of a redirect chain).
  void Feed(const std::string& line);
};

// What the request was, for judging its answer.
struct AnswerContext {
  bool probe = false;          // the first request, before the size is known
  bool stream = false;         // one stream without Range
  bool linkServer = false;     // the task's own link, not an extra source
  uint64_t asked = 0;          // first byte asked for
  uint64_t size = 0;           // the known size (probe: ignored)
  bool soleFromStart = false;  // the only connection, asking from byte 0
};

enum class Verdict {
  kTake,       // the bytes asked for
  kLearnSize,  // the first answer named the size (range.total)
  kStream,     // one stream from the start, the size from Content-Length if any
  kOtherFile,  // a range of a file of another size
  kNoRanges,   // ranges ignored where they are needed
  kRefuse,     // anything else: a failure of the source
};

Verdict Judge(const Answer& answer, const AnswerContext& context);

// `ref` (absolute, or a path on the same server) against `base`.
std::string ResolveUrl(const std::string& base, const std::string& ref);

}  // namespace p2sp
