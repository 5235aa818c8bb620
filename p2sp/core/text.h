#pragma once

#include <cstdint>
#include <string>

namespace p2sp {

// UTF-8 <-> wide text. wchar_t is UTF-16 on Windows and UTF-32 here; both work.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// Decimal digits only, no sign or blanks, no overflow.
bool ParseU64(const std::string& text, uint64_t* value);

// "12.34 MiB"-style texts and the CLI's progress line.
std::string SizeText(uint64_t bytes);
std::string ProgressLine(uint64_t done, uint64_t total, uint64_t speed);

}  // namespace p2sp
