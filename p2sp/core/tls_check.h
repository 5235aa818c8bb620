#pragma once

#include <curl/curl.h>

namespace p2sp {

// Holds an https transfer to the system's certificate check (chain to a
// trusted root, validity, server name) before its request goes out. Where the
// TLS library already checks against the system's store, this adds nothing.
void RequireVerifiedServer(CURL* easy);

}  // namespace p2sp
