#include "links.h"

#include <cctype>

namespace p2sp {
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
    if (line.empty() || line[0] == '#' || !engine_contract::IsHttpUrl(line)) continue;
    if (line.find_first_of(" \t") != std::string::npos) continue;
    bool seen = false;
    for (const auto& u : out) seen = seen || u == line;
    if (!seen) out.push_back(line);
  }
  return out;
}

std::string SeedQueryUrl(const std::string& seedUrl, const std::string& h1, const std::string& name, uint64_t size) {
  std::string url = seedUrl;
  url += url.find('?') == std::string::npos ? '?' : '&';
  url += "h1=" + UrlEncode(h1) + "&name=" + UrlEncode(name) + "&size=" + std::to_string(size);
  return url;
}

std::string FileNameOfUrl(const std::string& url) {
  std::string path = url.substr(0, url.find_first_of("?#"));
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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
