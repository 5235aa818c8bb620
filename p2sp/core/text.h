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
// With a manifest, also &sha256=<the whole file's SHA-256>, and, when this
// process shares, &port=<its sharing port>: the seed service then keeps us as
// a peer of the file and names other peers.
std::string SeedQueryUrl(const std::string& seedUrl, const std::string& h1, const std::string& name, uint64_t size,
                         const std::string& sha256 = std::string(), uint16_t port = 0);
using engine_contract::UrlEncode;
// The text after the last "/" of a URL, cut at its first "?" or "#" (the
// program names files the same way).
std::string FileNameOfUrl(const std::string& url);

// A player the seed service names as a peer of the file, on a line of its
// own: "peer <IPv4 address>:<port>" or "peer [<IPv6 address>]:<port>".
// Older engines skip such lines, which are no URLs.
struct PeerAddress {
  std::string host;  // an IPv6 address keeps its brackets
  uint16_t port = 0;
  bool operator==(const PeerAddress& o) const { return host == o.host && port == o.port; }
};
std::vector<PeerAddress> ParseSeedPeers(const std::string& body, size_t maxPeers);
// Where a peer serves its verified pieces of the file.
std::string PeerPieceUrl(const PeerAddress& peer, const std::string& sha256);

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
