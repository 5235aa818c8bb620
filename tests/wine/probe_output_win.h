#pragma once

// UTF-8 line output for the small programs that the Wine tests run.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

inline void WriteUtf8(const std::wstring& text) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline void PrintLine(const wchar_t* format, ...) {
  wchar_t buffer[8192];
  va_list args;
  va_start(args, format);
  std::vswprintf(buffer, 8192, format, args);
  va_end(args);
  WriteUtf8(std::wstring(buffer) + L"\n");
}
