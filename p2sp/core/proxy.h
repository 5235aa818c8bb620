#pragma once

#include <string>

namespace p2sp {

// The proxy the system would use for `url`, as a curl proxy string, or empty
// for a direct connection (curl still honours the *_proxy variables itself).
std::string SystemProxyFor(const std::string& url);

}  // namespace p2sp
