// Runs CDownloaderConfig::Initialize the way the program does and prints the
// outcome. config_probe [--runs N] [--age-skin-hours H]
// Before every run after the first, the skin picture's write time is moved H
// hours into the past when --age-skin-hours is given.
#include <windows.h>

#include <cwchar>
#include <string>

#include "config/downloader_config.h"
#include "probe_output_win.h"
#include "support/test_window_win.h"

namespace {

// Forwards to the program's own CallBack and prints the raw event first.
class PrintingListener : public CDownloaderConfig::IConfigInitCallback {
 public:
  explicit PrintingListener(HWND hwnd) : m_callBack(hwnd) {}
  int OnConfigProgress(uint32_t sofar, uint32_t total, int code, int whichFile) override {
    PrintLine(L"progress %d %u %u %d", code, sofar, total, whichFile);
    return m_callBack.OnConfigProgress(sofar, total, code, whichFile);
  }

 private:
  CallBack m_callBack;
};

// Prints the initialization notices the program would show.
bool PrintInitNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg != 2024) return false;
  PrintLine(L"initnotify %u %d", static_cast<unsigned>(wParam), static_cast<int>(lParam));
  *result = 0;
  return true;
}

bool Exists(const std::wstring& path) {
  return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void AgeFile(const std::wstring& path, double hours) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= static_cast<ULONGLONG>(hours * 3600.0 * 10000000.0);
  FILETIME old;
  old.dwLowDateTime = t.LowPart;
  old.dwHighDateTime = t.HighPart;
  ::SetFileTime(file, nullptr, nullptr, &old);
  ::CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int runs = 1;
  double ageHours = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--runs") == 0) runs = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--age-skin-hours") == 0) ageHours = _wtof(argv[i + 1]);
  }
  CDownloaderConfig& config = DownloaderConfig();
  PrintLine(L"key %ls", config.GetGameKey().c_str());
  PrintLine(L"version %ls", config.GetVersion().c_str());
  PrintLine(L"engine %ls", config.GetEngineLibraryPath().c_str());
  PrintLine(L"identity %ls", config.GetIdentityLibraryPath().c_str());
  PrintLine(L"url %ls", config.GetConfigUrl().c_str());
  TestWindow window(&PrintInitNotify);
  PrintingListener listener(window.Get());
  for (int run = 1; run <= runs; ++run) {
    if (run > 1 && ageHours >= 0) AgeFile(config.GetSkinPath(), ageHours);
    PrintLine(L"run %d", run);
    int result = config.Initialize(run == 1 ? &listener : nullptr);
    PrintLine(L"result %d", result);
    PrintLine(L"cfg_exists %d", Exists(config.GetConfigFilePath()) ? 1 : 0);
    PrintLine(L"skin_path %ls", config.GetSkinPath().c_str());
    PrintLine(L"skin_exists %d", Exists(config.GetSkinPath()) ? 1 : 0);
    PrintLine(L"GameName %ls", config.GetGameName().c_str());
    PrintLine(L"GameStart %ls", config.GetGameStart().c_str());
    PrintLine(L"NewVersion %ls", config.GetNewVersion().c_str());
    PrintLine(L"NewVersionDownloaderLink %ls", config.GetNewVersionDownloaderLink().c_str());
    PrintLine(L"DomainName %ls", config.GetDomainName().c_str());
    for (const GameFileEntry& f : config.GetFileList()) {
      PrintLine(L"file %llu|%ls|%ls", static_cast<unsigned long long>(f.size), f.downloadLink.c_str(),
                f.md5Text.c_str());
    }
  }
  return 0;
}
