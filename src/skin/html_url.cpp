#include "skin/html_url.h"

#include <cwctype>

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= text.size() || static_cast<wchar_t>(std::towlower(text[i])) != prefix[i]) return false;
  return true;
}

}  // namespace

bool IsWebAddress(const std::wstring& url) {
  size_t start = 0;
  if (StartsWithNoCase(url, L"http://"))
    start = 7;
  else if (StartsWithNoCase(url, L"https://"))
    start = 8;
  else
    return false;
  // A host must follow; a backslash there would make a UNC path of it for
  // some handlers.
  if (start >= url.size() || url[start] == L'/' || url[start] == L'\\') return false;
  // Blanks, quotes and control characters would end or extend the command
  // line of the browser started for it.
  for (wchar_t c : url)
    if (c <= 0x20 || c == 0x7F || c == L'"') return false;
  return true;
}

std::wstring ShellWebAddress(const std::wstring& value) {
  if (IsWebAddress(value)) return value;
  size_t host = 0;
  while (host < value.size() && ((value[host] >= L'a' && value[host] <= L'z') ||
                                 (value[host] >= L'A' && value[host] <= L'Z') ||
                                 (value[host] >= L'0' && value[host] <= L'9') || value[host] == L'.' ||
                                 value[host] == L'-')) {
    ++host;
  }
  if (host == 0 || (host < value.size() && value[host] != L'/')) return std::wstring();
  const std::wstring address = L"http://" + value;
  return IsWebAddress(address) ? address : std::wstring();
}
