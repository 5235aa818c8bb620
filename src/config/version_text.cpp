#include "config/version_text.h"

std::wstring FormatFileVersion(uint32_t ms, uint32_t ls) {
  return std::to_wstring(ms >> 16) + L"." + std::to_wstring(ms & 0xFFFF) + L"." + std::to_wstring(ls >> 16) + L"." +
         std::to_wstring(ls & 0xFFFF);
}

bool IsOlderVersion(const std::wstring& configured, const std::wstring& own) {
  if (configured.size() != own.size()) return true;
  return own.substr(0, 5).compare(configured.substr(0, 5)) < 0;
}
