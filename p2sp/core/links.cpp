#include "links.h"

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

// Dotted IPv4 or, in brackets, IPv6 text: the seed service names addresses it
// saw, never host names.
bool IsPeerHost(const std::string& host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const std::string inner = host.substr(1, host.size() - 2);
    return inner.size() <= 45 && inner.find(':') != std::string::npos &&
           inner.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos;
  }
  int parts = 0;
  size_t pos = 0;
  while (pos <= host.size()) {
    size_t dot = host.find('.', pos);
    if (dot == std::string::npos) dot = host.size();
    uint64_t value = 0;
    if (dot - pos > 3 || !ParseU64(host.substr(pos, dot - pos), &value) || value > 255) return false;
    ++parts;
    pos = dot + 1;
  }
  return parts == 4;
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
