#include "links.h"

#include <algorithm>
#include <cctype>

#include "text.h"

namespace p2sp {
namespace {

std::string Trim(const std::string& s) { return gd_text::Trim(s, gd_text::kCSpace); }

}  // namespace

std::vector<std::string> ParseSeedAnswer(const std::string& body, size_t maxSources) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < body.size() && out.size() < maxSources) {
    size_t nl = body.find('\n', pos);
    std::string line = Trim(body.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    pos = nl == std::string::npos ? body.size() : nl + 1;
    if (line.empty() || line[0] == '#' || !engine_contract::IsHttpUrl(line)) continue;
    if (line.find_first_of(" \t") != std::string::npos) continue;
    bool seen = false;
    for (const auto& u : out) seen = seen || u == line;
    if (!seen) out.push_back(line);
  }
  return out;
}

std::string SeedQueryUrl(const std::string& seedUrl, const std::string& h1, const std::string& name, uint64_t size,
                         const std::string& sha256, uint16_t port) {
  std::string url = seedUrl;
  url += url.find('?') == std::string::npos ? '?' : '&';
  url += "h1=" + UrlEncode(h1) + "&name=" + UrlEncode(name) + "&size=" + std::to_string(size);
  if (!sha256.empty()) {
    url += "&sha256=" + UrlEncode(sha256);
    if (port != 0) url += "&port=" + std::to_string(port);
  }
  return url;
}

std::string FileNameOfUrl(const std::string& url) {
  const size_t slash = url.find_last_of('/');
  const std::string name = slash == std::string::npos ? url : url.substr(slash + 1);
  return name.substr(0, name.find_first_of("?#"));
}

namespace {

bool ReadIpv4(const std::string& text, uint32_t* out) {
  int parts = 0;
  size_t pos = 0;
  uint32_t address = 0;
  while (pos <= text.size()) {
    size_t dot = text.find('.', pos);
    if (dot == std::string::npos) dot = text.size();
    uint64_t value = 0;
    if (dot - pos > 3 || !ParseU64(text.substr(pos, dot - pos), &value) || value > 255) return false;
    address = address << 8 | static_cast<uint32_t>(value);
    ++parts;
    pos = dot + 1;
  }
  *out = address;
  return parts == 4;
}

// Colon-separated groups of up to 4 hex digits; the last may be dotted IPv4.
bool ReadGroups(const std::string& text, bool ipv4Tail, std::vector<uint16_t>* groups) {
  size_t pos = 0;
  while (!text.empty()) {
    const size_t colon = text.find(':', pos);
    const std::string part = text.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    uint32_t v4 = 0;
    if (colon == std::string::npos && ipv4Tail && ReadIpv4(part, &v4)) {
      groups->push_back(static_cast<uint16_t>(v4 >> 16));
      groups->push_back(static_cast<uint16_t>(v4));
      return true;
    }
    if (part.empty() || part.size() > 4 || part.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return false;
    groups->push_back(static_cast<uint16_t>(std::stoul(part, nullptr, 16)));
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return true;
}

bool ReadIpv6(const std::string& text, uint16_t out[8]) {
  std::vector<uint16_t> head, tail;
  const size_t gap = text.find("::");
  if (gap == std::string::npos) {
    if (!ReadGroups(text, true, &head) || head.size() != 8) return false;
  } else if (text.find("::", gap + 1) != std::string::npos || !ReadGroups(text.substr(0, gap), false, &head) ||
             !ReadGroups(text.substr(gap + 2), true, &tail) || head.size() + tail.size() > 7) {
    return false;
  }
  for (int i = 0; i < 8; ++i) out[i] = 0;
  for (size_t i = 0; i < head.size(); ++i) out[i] = head[i];
  for (size_t i = 0; i < tail.size(); ++i) out[8 - tail.size() + i] = tail[i];
  return true;
}

// Addresses no player answers at: "this network", multicast, reserved and
// broadcast, and link-local (the cloud's metadata service lives there). The
// seed's answer may come over plain HTTP, so a line naming one is ignored
// rather than letting the download knock at it. Loopback stays: a player
// beside us on the same machine is one.
bool IsNowhere(uint32_t v4) { return (v4 >> 24) == 0 || v4 >= 0xE0000000u || (v4 >> 16) == 0xA9FE; }

// Dotted IPv4 or, in brackets, IPv6 text: the seed service names addresses it
// saw, never host names.
bool IsPeerHost(const std::string& host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    uint16_t g[8];
    if (host.size() > 47 || !ReadIpv6(host.substr(1, host.size() - 2), g)) return false;
    const bool unspecified = std::all_of(g, g + 8, [](uint16_t x) { return x == 0; });
    const bool mapped = std::all_of(g, g + 5, [](uint16_t x) { return x == 0; }) && g[5] == 0xFFFF;
    if (mapped) return !IsNowhere(static_cast<uint32_t>(g[6]) << 16 | g[7]);
    return !unspecified && (g[0] >> 8) != 0xFF && (g[0] & 0xFFC0) != 0xFE80;
  }
  uint32_t v4 = 0;
  return ReadIpv4(host, &v4) && !IsNowhere(v4);
}

}  // namespace

std::vector<PeerAddress> ParseSeedPeers(const std::string& body, size_t maxPeers) {
  std::vector<PeerAddress> out;
  size_t pos = 0;
  while (pos < body.size() && out.size() < maxPeers) {
    size_t nl = body.find('\n', pos);
    const std::string line = Trim(body.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    pos = nl == std::string::npos ? body.size() : nl + 1;
    if (line.compare(0, 5, "peer ") != 0) continue;
    const std::string where = line.substr(5);
    const size_t colon = where.find_last_of(':');
    uint64_t port = 0;
    if (colon == std::string::npos || !ParseU64(where.substr(colon + 1), &port) || port == 0 || port > 65535) continue;
    PeerAddress peer{where.substr(0, colon), static_cast<uint16_t>(port)};
    if (!IsPeerHost(peer.host)) continue;
    bool seen = false;
    for (const auto& p : out) seen = seen || p == peer;
    if (!seen) out.push_back(peer);
  }
  return out;
}

std::string PeerPieceUrl(const PeerAddress& peer, const std::string& sha256) {
  return "http://" + peer.host + ":" + std::to_string(peer.port) + "/p/" + sha256;
}

std::string HostOfUrl(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t at = host.rfind('@');
  if (at != std::string::npos) host = host.substr(at + 1);
  if (!host.empty() && host[0] == '[') {
    size_t close = host.find(']');
    host = host.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return host;
}

}  // namespace p2sp
