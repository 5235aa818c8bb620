#include <windows.h>
#include <wininet.h>

#include <cwctype>
#include <string>

#include "base/scoped_win.h"
#include "net/http_body.h"
#include "net/http_download.h"

namespace {

const wchar_t kUserAgent[] = L"Mozila/4.0 (compatible; MSIE 5.0; GARDBOX)";
const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kRequestFlags == 0x84000100, "request must bypass the cache both ways");

class WinInetBodyIo : public HttpBodyIo {
 public:
  WinInetBodyIo(HINTERNET request, HANDLE file, IHttpDownloadCallback* callback)
      : m_request(request), m_file(file), m_callback(callback) {}
  bool Read(void* buffer, uint32_t capacity, uint32_t* got) override {
    DWORD n = 0;
    BOOL ok = ::InternetReadFile(m_request, buffer, capacity, &n);
    *got = n;
    return ok != FALSE;
  }
  bool Write(const void* data, uint32_t size) override {
    if (m_file == INVALID_HANDLE_VALUE) return true;
    DWORD written = 0;
    return ::WriteFile(m_file, data, size, &written, nullptr) && written == size;
  }
  void Event(uint32_t sofar, uint32_t total, int code) override {
    if (m_callback) m_callback->OnHttpEvent(sofar, total, code);
  }

 private:
  HINTERNET m_request;
  HANDLE m_file;
  IHttpDownloadCallback* m_callback;
};

void SetTimeoutOption(HINTERNET h, DWORD option, DWORD ms) {
  if (ms != 0) ::InternetSetOptionW(h, option, &ms, sizeof(ms));
}

}  // namespace

int IsInternetConnected() {
  DWORD flags = 0;
  BOOL ok = ::InternetGetConnectedState(&flags, 0);
  return IsConnectedState(ok != FALSE, flags) ? 1 : 0;
}

void CHttpDownload::ApplyTimeouts(void* handle) const {
  SetTimeoutOption(handle, INTERNET_OPTION_CONNECT_TIMEOUT, m_connectTimeout);
  SetTimeoutOption(handle, INTERNET_OPTION_SEND_TIMEOUT, m_sendTimeout);
  SetTimeoutOption(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, m_receiveTimeout);
}

int CHttpDownload::DownloadToFile(const wchar_t* url, const wchar_t* path) {
  m_status = 0;
  if (!url) return 0;
  if (!IsInternetConnected()) return 0;

  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUserNameLength = 1;
  parts.dwPasswordLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!::InternetCrackUrlW(url, 0, 0, &parts)) return 0;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return 0;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  ScopedFile file;
  if (path) {
    file.Reset(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
  }

  ScopedInternet root(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root) return 0;
  ApplyTimeouts(root.Get());
  Raise(0, 0, HTTP_EVENT_CONNECTING);

  wchar_t host[256] = {};
  if (parts.lpszHostName && parts.dwHostNameLength < 256) {
    wcsncpy(host, parts.lpszHostName, parts.dwHostNameLength);
  } else {
    return 0;  // a host name the buffer cannot hold would be cut to another host
  }
  INTERNET_PORT port = parts.nPort ? parts.nPort : secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  ScopedInternet connection(::InternetConnectW(root.Get(), host, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return 0;

  // The object name runs from the path to the end of the URL, query included.
  const wchar_t* object = parts.lpszUrlPath ? parts.lpszUrlPath : L"";
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  ScopedInternet request(
      ::HttpOpenRequestW(connection.Get(), nullptr, object, L"HTTP/1.1", nullptr, acceptTypes,
                         kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0), 0));
  if (!request) return 0;
  // Windows hands the root handle's timeouts down to its requests; Wine does
  // not, and a silent server would then hold the caller for ever.
  ApplyTimeouts(request.Get());

  // Certificate errors (unknown issuer, wrong name, expired) make the send
  // fail like a broken network; no security flag is ever relaxed to get past
  // them.
  BOOL sent = ::HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0);
  DWORD status = 0, size = sizeof(status);
  if (::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    m_status = status;
  }
  if (!sent || m_status != 200) return 0;

  DWORD length = 0;
  size = sizeof(length);
  bool hasLength = ::HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size,
                                    nullptr) != FALSE;
  wchar_t encoding[64] = {};
  size = sizeof(encoding) - sizeof(wchar_t);
  bool chunked = false;
  if (::HttpQueryInfoW(request.Get(), HTTP_QUERY_TRANSFER_ENCODING, encoding, &size, nullptr)) {
    std::wstring text(encoding);
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    chunked = text.find(L"chunked") != std::wstring::npos;
  }
  WinInetBodyIo io(request.Get(), file.Get(), m_callback);
  return ReadHttpBody(io, hasLength, hasLength ? length : 0, chunked, m_maxBodyBytes) ? 1 : 0;
}
