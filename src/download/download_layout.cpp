#include "download/download_layout.h"

#include <cwchar>

std::wstring LinkMarkup(int id, uint32_t colour, const std::wstring& text) {
  wchar_t buffer[1024];
  std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"{&#a=button:%d}{&#acolor=%d}%ls", id,
                static_cast<int>(colour), text.c_str());
  return buffer;
}
