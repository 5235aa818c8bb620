#include <windows.h>
// after windows.h, which they need
#define SECURITY_WIN32
#include <security.h>
#include <wincrypt.h>
// after wincrypt.h, which it needs
#include <schannel.h>

#include <string>

#include "base/scoped_win.h"
#include "curl_handles.h"
#include "text.h"
#include "tls_check.h"

namespace p2sp {
namespace {

std::wstring HostOf(const char* url) {
  std::wstring host;
  CurlUrl parts(curl_url());
  char* text = nullptr;
  if (parts && curl_url_set(parts.get(), CURLUPART_URL, url, 0) == CURLUE_OK &&
      curl_url_get(parts.get(), CURLUPART_HOST, &text, 0) == CURLUE_OK) {
    CurlText owned(text);
    std::string narrow(text);
    if (narrow.size() > 2 && narrow.front() == '[' && narrow.back() == ']')
      narrow = narrow.substr(1, narrow.size() - 2);
    host = Utf8ToWide(narrow);
  }
  return host;
}

// The same rule the system's HTTP client applies: a chain to a trusted root,
// every certificate in its validity period, the server's name among the
// certificate's names.
bool CertificateFits(PCCERT_CONTEXT cert, const std::wstring& host) {
  CERT_CHAIN_PARA chainPara = {};
  chainPara.cbSize = sizeof(chainPara);
  PCCERT_CHAIN_CONTEXT chainContext = nullptr;
  if (!::CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara, 0, nullptr, &chainContext)) {
    return false;
  }
  ScopedCertChain chain(chainContext);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof(policy);
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  return ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policy, &status) &&
         status.dwError == 0;
}

// Runs once the connection (with its TLS handshake) is up and before the
// request is sent. Schannel under Wine accepts any certificate in its own
// automatic check, so the check is made here again on every system.
int CheckBeforeRequest(void* easy, char*, char*, int, int) {
  char* url = nullptr;
  if (curl_easy_getinfo(static_cast<CURL*>(easy), CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url) {
    return CURL_PREREQFUNC_ABORT;
  }
  if (_strnicmp(url, "https://", 8) != 0) return CURL_PREREQFUNC_OK;
  curl_tlssessioninfo* session = nullptr;
  if (curl_easy_getinfo(static_cast<CURL*>(easy), CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || !session ||
      session->backend != CURLSSLBACKEND_SCHANNEL || !session->internals) {
    return CURL_PREREQFUNC_ABORT;
  }
  PCCERT_CONTEXT certContext = nullptr;
  if (::QueryContextAttributesW(static_cast<PCtxtHandle>(session->internals), SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                &certContext) != SEC_E_OK ||
      !certContext) {
    return CURL_PREREQFUNC_ABORT;
  }
  ScopedCertContext cert(certContext);
  const std::wstring host = HostOf(url);
  return !host.empty() && CertificateFits(cert.Get(), host) ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
}

}  // namespace

void RequireVerifiedServer(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CheckBeforeRequest);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, easy);
}

}  // namespace p2sp
