#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contract/engine_contract.h"

namespace p2sp {

// UTF-8 <-> wide text. wchar_t is UTF-16 on Windows and UTF-32 here; both work.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// The task link and its reading are the program's and the engine's contract.
using engine_contract::ParseTaskLink;
using engine_contract::TaskLink;

// The seed service's answer: one alternative URL per line; anything that is not
// an http(s) URL is skipped.
std::vector<std::string> ParseSeedAnswer(const std::string& body, size_t maxSources);
// <seed>?h1=..&name=..&size=.. (or &h1=.. when the seed URL has a query already).
std::string SeedQueryUrl(const std::string& seedUrl, const std::string& h1, const std::string& name, uint64_t size);
using engine_contract::UrlEncode;
// The last path segment of a URL, without query or fragment.
std::string FileNameOfUrl(const std::string& url);

// A Content-Range value: "bytes 0-99/1000", "bytes */1000", "bytes 0-99/*".
constexpr uint64_t kUnknownTotal = UINT64_MAX;
struct ContentRange {
  bool valid = false;
  uint64_t first = kUnknownTotal, last = kUnknownTotal, total = kUnknownTotal;
};
ContentRange ParseContentRange(const std::string& value);
// Decimal digits only, no sign or blanks, no overflow.
bool ParseU64(const std::string& text, uint64_t* value);

// The proxy for `url` from the system's Internet options: `proxyList` is
// "host:port" or "http=host:port;https=host:port", `bypassList` holds host
// patterns with '*' and "<local>" (names without a dot). Loopback addresses
// never go through a proxy. Empty means a direct connection.
std::string PickSystemProxy(const std::string& proxyList, const std::string& bypassList, const std::string& url);
// The host part of a URL, lower-case, without user, port or brackets.
std::string HostOfUrl(const std::string& url);

// "12.34 MiB"-style texts and the CLI's progress line.
std::string SizeText(uint64_t bytes);
std::string ProgressLine(uint64_t done, uint64_t total, uint64_t speed);

}  // namespace p2sp
