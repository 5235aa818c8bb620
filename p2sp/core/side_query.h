#pragma once

#include <curl/curl.h>

#include "curl_handles.h"

#include <string>

namespace p2sp {

// A small GET beside the transfers (the seed service, a manifest): one easy
// handle on the session's multi handle, a capped body, its own timeout.
class SideQuery {
 public:
  SideQuery(size_t maxBody, long timeoutSeconds) : m_maxBody(maxBody), m_timeout(timeoutSeconds) {}
  ~SideQuery() { Cancel(); }
  SideQuery(const SideQuery&) = delete;
  SideQuery& operator=(const SideQuery&) = delete;

  // `direct`: never through a proxy, not even one the environment names, and
  // no redirect followed (another player's answer).
  bool Start(CURLM* multi, const std::string& url, const std::string& proxy, const char* userAgent,
             bool direct = false);
  // Ready to start again.
  void Reset() {
    Cancel();
    m_started = false;
    m_body.clear();
  }
  bool Started() const { return m_started; }
  bool Running() const { return m_easy != nullptr; }
  bool Owns(CURL* easy) const { return easy && easy == m_easy.get(); }
  // Ends the transfer (libcurl reported it done); returns the HTTP status, 0 on failure.
  long Finish(CURLcode code);
  void Cancel();
  const std::string& Body() const { return m_body; }
  const std::string& Url() const { return m_url; }

 private:
  static size_t WriteCb(char* data, size_t size, size_t n, void* user);

  const size_t m_maxBody;
  const long m_timeout;
  CURLM* m_multi = nullptr;
  CurlEasy m_easy;
  bool m_started = false;
  std::string m_url;
  std::string m_body;
};

}  // namespace p2sp
