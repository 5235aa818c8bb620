#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/engine_contract.h"

namespace p2sp {

// The task link and its reading are the program's and the engine's contract.
using engine_contract::ParseTaskLink;
using engine_contract::TaskLink;
using engine_contract::UrlEncode;

// The seed service's answer: one alternative URL per line; anything that is not
// an http(s) URL is skipped.
std::vector<std::string> ParseSeedAnswer(const std::string& body, size_t maxSources);
// <seed>?h1=..&name=..&size=.. (or &h1=.. when the seed URL has a query already).
// With a manifest, also &sha256=<the whole file's SHA-256>, and, when this
// process shares, &port=<its sharing port>: the seed service then keeps us as
// a peer of the file and names other peers.
std::string SeedQueryUrl(const std::string& seedUrl, const std::string& h1, const std::string& name, uint64_t size,
                         const std::string& sha256 = std::string(), uint16_t port = 0);
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
// The host part of a URL, lower-case, without user, port or brackets.
std::string HostOfUrl(const std::string& url);

}  // namespace p2sp
