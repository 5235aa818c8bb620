#include "proxy.h"

#include <cctype>
#include <vector>

#include "links.h"

namespace p2sp {
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
  bool https = engine_contract::StartsWithNoCase(url, "https://");
  std::string fallback;
  for (const std::string& entry : SplitList(proxyList)) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      if (fallback.empty()) fallback = entry;
      continue;
    }
    std::string scheme = entry.substr(0, eq);
    if (engine_contract::StartsWithNoCase(scheme, https ? "https" : "http") && scheme.size() == (https ? 5u : 4u))
      return entry.substr(eq + 1);
  }
  return fallback;
}

}  // namespace p2sp
