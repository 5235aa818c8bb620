#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "net/http_download.h"
#include "stats/statistics_mgr.h"

namespace {

constexpr uint32_t kReportTimeoutMs = 10000;
constexpr uint32_t kMaxReplyBytes = 1u << 20;

// The program's HTTP client; one request at a time on the sender thread.
class CWinReportTransport : public IReportTransport {
 public:
  CWinReportTransport() {
    m_http.SetTimeout(kReportTimeoutMs);
    // Replies are a few bytes; a server sending more is not let fill the disk.
    m_http.SetMaxBodyBytes(kMaxReplyBytes);
  }

  void Send(const std::wstring& url) override { m_http.DownloadToFile(url.c_str(), nullptr); }

  bool SendKeepingReply(const std::wstring& url) override {
    const std::wstring path = ReplyFilePath();
    if (path.empty()) return false;
    m_http.DownloadToFile(url.c_str(), path.c_str());
    return ReadBack(path);
  }

 private:
  // Temporary folder + "%08x.ss" of the tick count; the file stays there.
  static std::wstring ReplyFilePath() {
    wchar_t temp[256] = {};
    DWORD n = ::GetTempPathW(256, temp);
    if (n == 0 || n >= 256) return std::wstring();
    std::wstring path(temp, n);
    if (path.back() != L'\\') path += L'\\';
    wchar_t name[16];
    std::swprintf(name, 16, L"%08x.ss", static_cast<unsigned>(::GetTickCount()));
    return path + name;
  }

  static bool ReadBack(const std::wstring& path) {
    ScopedFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart >= 0xFFFFFFFFLL) return false;
    // Nobody reads the reply; reading it through shows that it arrived whole.
    std::vector<char> block(64 * 1024);
    LONGLONG left = size.QuadPart;
    while (left > 0) {
      DWORD got = 0;
      if (!::ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) || got == 0)
        return false;
      left -= got;
    }
    return true;
  }

  CHttpDownload m_http;
};

}  // namespace

void CStatisticsMgr::Start() { Start(std::make_unique<CWinReportTransport>()); }
