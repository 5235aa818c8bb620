#include "answer.h"

#include <cctype>
#include <cstdlib>

#include "contract/engine_contract.h"
#include "contract/text.h"
#include "text.h"

namespace p2sp {
namespace {

using gd_text::AsciiLower;

std::string Trim(const std::string& s) { return gd_text::Trim(s, gd_text::kHttpBlanks); }

// Link: <a>; rel=describedby; type="application/metalink4+xml", <b>; rel=...
std::string MetalinkOfLinkHeader(const std::string& value) {
  size_t pos = 0;
  while ((pos = value.find('<', pos)) != std::string::npos) {
    size_t close = value.find('>', pos);
    if (close == std::string::npos) return {};
    std::string target = value.substr(pos + 1, close - pos - 1);
    size_t next = value.find('<', close);
    std::string params =
        AsciiLower(value.substr(close + 1, next == std::string::npos ? std::string::npos : next - close - 1));
    std::string compact;
    for (char c : params)
      if (c != ' ' && c != '\t' && c != '"') compact += c;
    bool describedBy = compact.find(";rel=describedby") != std::string::npos;
    bool metalink = compact.find(";type=application/metalink4+xml") != std::string::npos;
    if (describedBy && metalink) return target;
    pos = close;
  }
  return {};
}

}  // namespace

void Answer::Feed(const std::string& raw) {
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.compare(0, 5, "HTTP/") == 0) {
    *this = Answer();
    size_t sp = line.find(' ');
    status = sp == std::string::npos ? 0 : std::strtol(line.c_str() + sp + 1, nullptr, 10);
    return;
  }
  size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  std::string name = AsciiLower(line.substr(0, colon));
  std::string value = Trim(line.substr(colon + 1));
  if (name == "content-range") {
    range = ParseContentRange(value);
  } else if (name == "content-length") {
    hasLength = ParseU64(value, &length);
  } else if (name == "transfer-encoding") {
    chunked = AsciiLower(value).find("chunked") != std::string::npos;
  } else if (name == "link" && describedBy.empty()) {
    describedBy = MetalinkOfLinkHeader(value);
  }
}

Verdict Judge(const Answer& a, const AnswerContext& c) {
  if (a.status == 206) {
    const ContentRange& cr = a.range;
    if (!cr.valid || cr.total == kUnknownTotal || cr.first != c.asked) return Verdict::kRefuse;
    if (c.probe) return Verdict::kLearnSize;
    if (c.stream) return Verdict::kRefuse;
    return cr.total == c.size ? Verdict::kTake : Verdict::kOtherFile;
  }
  if (a.status == 200) {
    // Extra sources are only worth it with ranges.
    if (!c.linkServer) return Verdict::kNoRanges;
    if (c.probe || c.stream || c.soleFromStart) return Verdict::kStream;
    return Verdict::kNoRanges;
  }
  return Verdict::kRefuse;
}

std::string ResolveUrl(const std::string& base, const std::string& ref) {
  if (ref.empty()) return {};
  size_t scheme = ref.find("://");
  if (scheme != std::string::npos && ref.find_first_of("/?#") > scheme) return ref;
  size_t hostStart = base.find("://");
  if (hostStart == std::string::npos) return {};
  hostStart += 3;
  size_t pathStart = base.find_first_of("/?#", hostStart);
  std::string origin = base.substr(0, pathStart);
  if (ref.compare(0, 2, "//") == 0) return base.substr(0, hostStart - 2) + ref;
  if (ref[0] == '/') return origin + ref;
  // Relative to the folder of the base's path.
  std::string path = pathStart == std::string::npos ? "/" : base.substr(pathStart);
  path = path.substr(0, path.find_first_of("?#"));
  return origin + path.substr(0, path.rfind('/') + 1) + ref;
}

ContentRange ParseContentRange(const std::string& value) {
  ContentRange cr;
  std::string v = gd_text::Trim(value, gd_text::kCSpace);
  if (!engine_contract::StartsWithNoCase(v, "bytes ")) return cr;
  v = gd_text::Trim(v.substr(6), gd_text::kCSpace);
  size_t slash = v.find('/');
  if (slash == std::string::npos) return cr;
  std::string span = v.substr(0, slash), total = v.substr(slash + 1);
  ContentRange out;
  if (total != "*" && !ParseU64(total, &out.total)) return cr;
  if (span == "*") {
    out.valid = out.total != kUnknownTotal;  // the form of a 416 answer
    return out.valid ? out : cr;
  }
  size_t dash = span.find('-');
  if (dash == std::string::npos) return cr;
  if (!ParseU64(span.substr(0, dash), &out.first) || !ParseU64(span.substr(dash + 1), &out.last)) return cr;
  if (out.last < out.first || (out.total != kUnknownTotal && out.last >= out.total)) return cr;
  out.valid = true;
  return out;
}

}  // namespace p2sp
