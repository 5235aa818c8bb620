#include <windows.h>
#include <winhttp.h>

#include "proxy.h"
#include "text.h"

namespace p2sp {

std::string SystemProxyFor(const std::string& url) {
  // The user's Internet options, as the system's own HTTP stacks see them.
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return {};
  std::string proxy = config.lpszProxy ? WideToUtf8(config.lpszProxy) : std::string();
  std::string bypass = config.lpszProxyBypass ? WideToUtf8(config.lpszProxyBypass) : std::string();
  if (config.lpszProxy) ::GlobalFree(config.lpszProxy);
  if (config.lpszProxyBypass) ::GlobalFree(config.lpszProxyBypass);
  if (config.lpszAutoConfigUrl) ::GlobalFree(config.lpszAutoConfigUrl);
  return PickSystemProxy(proxy, bypass, url);
}

}  // namespace p2sp
