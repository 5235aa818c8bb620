#pragma once

#include <string>

namespace p2sp {

// The proxy the system would use for `url`, as a curl proxy string, or empty
// for a direct connection (curl still honours the *_proxy variables itself).
std::string SystemProxyFor(const std::string& url);

// The proxy for `url` from the system's Internet options: `proxyList` is
// "host:port" or "http=host:port;https=host:port", `bypassList` holds host
// patterns with '*' and "<local>" (names without a dot). Loopback addresses
// never go through a proxy. Empty means a direct connection.
std::string PickSystemProxy(const std::string& proxyList, const std::string& bypassList, const std::string& url);

}  // namespace p2sp
