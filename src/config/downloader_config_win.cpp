#include <windows.h>

#include <string>
#include <vector>

#include "base/module_info_win.h"
#include "config/downloader_config.h"
#include "config/freshness.h"
#include "config/version_text.h"

namespace {

std::wstring TempDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD n = ::GetTempPathW(MAX_PATH, buffer);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  return buffer;
}

// Seconds since 1970-01-01 UTC of a FILETIME.
int64_t UnixSeconds(const FILETIME& ft) {
  ULARGE_INTEGER v;
  v.LowPart = ft.dwLowDateTime;
  v.HighPart = ft.dwHighDateTime;
  return static_cast<int64_t>(v.QuadPart / 10000000ULL) - 11644473600LL;
}

bool IsFresh(const std::wstring& path, uint32_t maxAge) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  bool have = maxAge != 0 && ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
              !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return IsFreshFile(have, UnixSeconds(now), have ? UnixSeconds(data.ftLastWriteTime) : 0, maxAge);
}

// Reads a value whole, however long it is.
std::wstring ReadProfileValue(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  std::vector<wchar_t> buffer(4096);
  for (;;) {
    DWORD n =
        ::GetPrivateProfileStringW(section, key, L"", buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    if (n + 1 < buffer.size() || buffer.size() >= (1u << 24)) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 4);
  }
}

}  // namespace

CDownloaderConfig::CDownloaderConfig() {
  m_http.SetTimeouts(5000, 1000, 5000);
  m_http.SetCallback(this);
  m_gameKey = ReadOwnGameKey();
  std::wstring temp = TempDirectory();
  if (!temp.empty()) {
    if (m_engineLibraryPath.empty()) m_engineLibraryPath = temp + m_gameKey + L"TarnP2SP.dll";
    if (m_identityLibraryPath.empty()) m_identityLibraryPath = temp + m_gameKey + L"Tarnverify.dll";
  }
}

int CDownloaderConfig::OnHttpEvent(uint32_t sofar, uint32_t total, int code) {
  if (m_listener) m_listener->OnConfigProgress(sofar, total, code, m_currentDownload);
  return 0;
}

std::wstring CDownloaderConfig::GetVersion() {
  if (m_version.empty()) {
    uint32_t ms = 0, ls = 0;
    if (ReadOwnFileVersion(&ms, &ls)) m_version = FormatFileVersion(ms, ls);
  }
  return m_version;
}

std::wstring CDownloaderConfig::GetConfigUrl() {
  if (m_configUrl.empty()) m_configUrl = DownloadServerBase() + m_gameKey + L".html";
  return m_configUrl;
}

std::wstring CDownloaderConfig::GetConfigFilePath() {
  if (m_configFilePath.empty()) {
    std::wstring temp = TempDirectory();
    if (!temp.empty()) m_configFilePath = temp + m_gameKey + L".cfg";
  }
  return m_configFilePath;
}

std::wstring CDownloaderConfig::GetSkinPath() {
  if (m_values.skinLink.empty()) {
    m_skinPath.clear();
  } else if (m_skinPath.empty()) {
    std::wstring temp = TempDirectory();
    if (!temp.empty()) m_skinPath = temp + m_gameKey + L".png";
  }
  return m_skinPath;
}

bool CDownloaderConfig::FetchFile(const std::wstring& url, const std::wstring& path, int whichFile,
                                  uint32_t maxAgeSeconds) {
  if (url.empty() || path.empty()) return false;
  if (IsFresh(path, maxAgeSeconds)) return true;
  m_currentDownload = whichFile;
  // Whatever the server sends is bounded: no configuration is near 1 MiB and
  // no skin picture near 8 MiB.
  m_http.SetMaxBodyBytes(whichFile == CONFIG_DOWNLOAD_SKIN ? kMaxSkinBytes : kMaxConfigBytes);
  if (m_http.DownloadToFile(url.c_str(), path.c_str())) return true;
  ::DeleteFileW(path.c_str());
  return false;
}

bool CDownloaderConfig::ParseConfigFile() {
  const std::wstring file = GetConfigFilePath();
  return ParseConfiguration(
      [&file](const wchar_t* section, const wchar_t* key) { return ReadProfileValue(file, section, key); }, m_values);
}

int CDownloaderConfig::Initialize(IConfigInitCallback* listener) {
  if (listener) m_listener = listener;
  int result = INIT_ALL_FETCHED;
  if (!FetchFile(GetConfigUrl(), GetConfigFilePath(), CONFIG_DOWNLOAD_FILE, 0)) {
    result = INIT_CONFIG_NOT_FETCHED;
  } else if (!ParseConfigFile()) {
    result = INIT_KEY_MISSING;
  } else if (!m_values.skinLink.empty() &&
             !FetchFile(m_values.skinLink, GetSkinPath(), CONFIG_DOWNLOAD_SKIN, kSkinMaxAgeSeconds)) {
    result = INIT_SKIN_NOT_FETCHED;
  }
  if (!GetConfigFilePath().empty()) ::DeleteFileW(GetConfigFilePath().c_str());
  return result;
}

int CallBack::OnConfigProgress(uint32_t sofar, uint32_t total, int code, int whichFile) {
  int position = InitProgressPosition(sofar, total, code, whichFile);
  if (position >= 0) ::SendMessageW(static_cast<HWND>(m_hwnd), kInitNotifyMessage, static_cast<WPARAM>(position), kInitNotifyProgress);
  return 0;
}
