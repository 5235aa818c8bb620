#include "app/init_flow.h"

#include "config/downloader_config.h"

namespace {

constexpr unsigned kKeyDown = 0x100;     // WM_KEYDOWN
constexpr unsigned kLastKeyMsg = 0x109;  // WM_UNICHAR
constexpr std::uintptr_t kReturn = 13;   // VK_RETURN
constexpr std::uintptr_t kEscape = 27;   // VK_ESCAPE

}  // namespace

int NextInitProgress(int current) {
  if (current >= kInitProgressLast) return -1;
  int next = current + kInitProgressStep;
  return next > kInitProgressLast ? kInitProgressLast : next;
}

InitOutcome DecideInitOutcome(int initResult, bool firstItemUsable, bool olderVersion) {
  if ((initResult != INIT_ALL_FETCHED && initResult != INIT_SKIN_NOT_FETCHED) || !firstItemUsable) {
    return InitOutcome::InitialFailed;
  }
  if (olderVersion) return InitOutcome::OlderVersion;
  return initResult == INIT_ALL_FETCHED ? InitOutcome::DownloadWindowSkinned : InitOutcome::DownloadWindowBuiltIn;
}

bool IsSwallowedKeyMessage(unsigned message, std::uintptr_t wParam) {
  return message >= kKeyDown && message <= kLastKeyMsg && (wParam == kReturn || wParam == kEscape);
}

std::wstring ProgramFileName(const std::wstring& programPath) {
  size_t slash = programPath.rfind(L'\\');
  return slash == std::wstring::npos ? programPath : programPath.substr(slash + 1);
}

std::wstring DesktopShortcutPath(const std::wstring& desktop, const std::wstring& programPath) {
  std::wstring fileName = ProgramFileName(programPath);
  size_t dot = fileName.rfind(L'.');
  std::wstring baseName = dot == std::wstring::npos ? std::wstring() : fileName.substr(0, dot);
  return desktop + L"\\" + baseName + L".lnk";
}

std::wstring DownloaderTitle(const std::wstring& gameName) { return L"Brenva网游戏下载器-" + gameName + L"专版"; }
