#include "text.h"

#include <cctype>
#include <cstdio>

namespace p2sp {

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    uint32_t c;
    size_t extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
    } else {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char n = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
      if ((n & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (n & 0x3F);
    }
    if (!ok) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000 && sizeof(wchar_t) == 2) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

using engine_contract::IsHttpUrl;
using engine_contract::StartsWithNoCase;

namespace {
std::string Trim(const std::string& s) { return engine_contract::TrimBlanks(s); }
}  // namespace

std::vector<std::string> ParseSeedAnswer(const std::string& body, size_t maxSources) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < body.size() && out.size() < maxSources) {
    size_t nl = body.find('\n', pos);
    std::string line = Trim(body.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    pos = nl == std::string::npos ? body.size() : nl + 1;
    if (line.empty() || line[0] == '#' || !IsHttpUrl(line)) continue;
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

bool ParseU64(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

ContentRange ParseContentRange(const std::string& value) {
  ContentRange cr;
  std::string v = Trim(value);
  if (!StartsWithNoCase(v, "bytes ")) return cr;
  v = Trim(v.substr(6));
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

namespace {

bool WildcardMatch(const std::string& pattern, const std::string& text) {
  size_t p = 0, t = 0, star = std::string::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                         std::tolower(static_cast<unsigned char>(text[t]))) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> out;
  std::string item;
  for (char c : list + ";") {
    if (c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return out;
}

}  // namespace

std::string PickSystemProxy(const std::string& proxyList, const std::string& bypassList, const std::string& url) {
  std::string host = HostOfUrl(url);
  if (host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0) return {};
  for (const std::string& pattern : SplitList(bypassList)) {
    if (pattern == "<local>" ? host.find('.') == std::string::npos : WildcardMatch(pattern, host)) return {};
  }
  bool https = StartsWithNoCase(url, "https://");
  std::string fallback;
  for (const std::string& entry : SplitList(proxyList)) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      if (fallback.empty()) fallback = entry;
      continue;
    }
    std::string scheme = entry.substr(0, eq);
    if (StartsWithNoCase(scheme, https ? "https" : "http") && scheme.size() == (https ? 5u : 4u))
      return entry.substr(eq + 1);
  }
  return fallback;
}

std::string SizeText(uint64_t bytes) {
  static const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(bytes);
  int unit = 0;
  while (v >= 1024 && unit < 4) {
    v /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, unit == 0 ? "%.0f %s" : "%.2f %s", v, kUnits[unit]);
  return buf;
}

std::string ProgressLine(uint64_t done, uint64_t total, uint64_t speed) {
  std::string line = SizeText(done);
  if (total > 0) {
    char pct[16];
    std::snprintf(pct, sizeof pct, " (%d%%)", static_cast<int>(done >= total ? 100 : done * 100 / total));
    line += " / " + SizeText(total) + pct;
  }
  line += "  " + SizeText(speed) + "/s  ETA ";
  if (total > 0 && speed > 0 && total >= done) {
    uint64_t s = (total - done) / speed;
    char eta[32];
    std::snprintf(eta, sizeof eta, "%u:%02u:%02u", static_cast<unsigned>(s / 3600), static_cast<unsigned>(s / 60 % 60),
                  static_cast<unsigned>(s % 60));
    line += eta;
  } else {
    line += "--:--:--";
  }
  return line;
}

}  // namespace p2sp
