#include "base/game_key.h"

#include <cwchar>

std::wstring GameKeyFromDescription(const std::wstring& description) {
  std::wstring key = description.substr(0, description.find(L'\0'));
  if (key.size() > kGameKeyMaxChars) key.resize(kGameKeyMaxChars);
  return key;
}

std::wstring DescriptionQueryPath(uint16_t language, uint16_t codePage) {
  wchar_t path[50];
  std::swprintf(path, 50, L"\\StringFileInfo\\%04x%04x\\FileDescription", static_cast<unsigned>(language),
                static_cast<unsigned>(codePage));
  return path;
}
