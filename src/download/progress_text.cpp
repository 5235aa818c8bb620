#include "download/progress_text.h"

#include <cwchar>

#include "download/download_ids.h"

int ActionButtonOfMode(int mode) {
  switch (mode) {
    case ModeReady:
      return kCmdDownload;
    case ModePaused:
      return kCmdContinue;
    case ModeDownloading:
      return kCmdPause;
    case ModeFinished:
      return kCmdInstall;
    case ModeRestart:
      return kCmdRedownload;
    default:
      return 0;
  }
}

std::wstring FormatSize(uint64_t bytes) {
  struct Unit {
    uint64_t size;
    const wchar_t* pattern;
  };
  static const Unit kUnits[] = {
      {1073741824ull, L"%0.2fGB"}, {1048576ull, L"%0.2fMB"}, {1024ull, L"%0.2fKB"}, {1ull, L"%0.2fB"}};
  const Unit* unit = &kUnits[3];
  for (const Unit& u : kUnits) {
    if (bytes / u.size != 0) {
      unit = &u;
      break;
    }
  }
  const float quotient = static_cast<float>(static_cast<double>(bytes) / static_cast<double>(unit->size));
  wchar_t text[64];
  std::swprintf(text, 64, unit->pattern, static_cast<double>(quotient));
  return text;
}

std::wstring SizesText(uint64_t done, uint64_t total) { return FormatSize(done) + L"/" + FormatSize(total); }

std::wstring SpeedText(uint64_t bytesPerSecond) {
  wchar_t text[64];
  std::swprintf(text, 64, L"速度：%0.1fKB/s", static_cast<double>(bytesPerSecond) / 1024.0);
  return text;
}

int ProgressPercent(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return 100;
  if (done <= UINT64_MAX / 100) return static_cast<int>(done * 100 / total);
  // Sizes this large only come from a broken record; still, no overflow:
  // long division of 100 × done by total, one addition at a time.
  int percent = 0;
  uint64_t remainder = 0;
  for (int i = 0; i < 100; ++i) {
    if (remainder >= total - done) {
      remainder -= total - done;
      ++percent;
    } else {
      remainder += done;
    }
  }
  return percent;
}
