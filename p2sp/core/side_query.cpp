#include "side_query.h"

#include "tls_check.h"

namespace p2sp {

size_t SideQuery::WriteCb(char* data, size_t size, size_t n, void* user) {
  SideQuery* q = static_cast<SideQuery*>(user);
  if (q->m_body.size() + size * n > q->m_maxBody) return 0;  // not what was asked for
  q->m_body.append(data, size * n);
  return size * n;
}

bool SideQuery::Start(CURLM* multi, const std::string& url, const std::string& proxy, const char* userAgent,
                      bool direct) {
  m_started = true;
  m_url = url;
  m_easy.reset(curl_easy_init());
  if (!m_easy) return false;
  curl_easy_setopt(m_easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(m_easy.get(), CURLOPT_WRITEFUNCTION, &SideQuery::WriteCb);
  curl_easy_setopt(m_easy.get(), CURLOPT_WRITEDATA, this);
  // A player is asked directly and answers itself: it may not send us on to
  // another address (a map, a piece or an error is all it may answer).
  curl_easy_setopt(m_easy.get(), CURLOPT_FOLLOWLOCATION, direct ? 0L : 1L);
  curl_easy_setopt(m_easy.get(), CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(m_easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(m_easy.get(), CURLOPT_TIMEOUT, m_timeout);
  curl_easy_setopt(m_easy.get(), CURLOPT_USERAGENT, userAgent);
  RequireVerifiedServer(m_easy.get());
  if (!proxy.empty() || direct) curl_easy_setopt(m_easy.get(), CURLOPT_PROXY, direct ? "" : proxy.c_str());
  if (curl_multi_add_handle(multi, m_easy.get()) != CURLM_OK) {
    m_easy.reset();
    return false;
  }
  m_multi = multi;
  return true;
}

long SideQuery::Finish(CURLcode code) {
  long status = 0;
  curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &status);
  Cancel();
  return code == CURLE_OK ? status : 0;
}

void SideQuery::Cancel() {
  if (!m_easy) return;
  if (m_multi) curl_multi_remove_handle(m_multi, m_easy.get());
  m_easy.reset();
  m_multi = nullptr;
}

}  // namespace p2sp
