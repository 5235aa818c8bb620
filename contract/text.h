#pragma once

// The text rules the programs share: UTF-8 and UTF-16 against wide text,
// blanks, ASCII case and decimal numbers.
#include <cstddef>
#include <cstdint>
#include <string>

namespace gd_text {

// wchar_t is UTF-16 on Windows and UTF-32 elsewhere; both work. A pair of
// UTF-16 units is joined whatever the width of wchar_t (wide text may hold
// UTF-16 read from elsewhere); a lone surrogate, or a value past U+10FFFF,
// becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
// A byte that does not start a well-formed sequence (overlong forms,
// surrogates and values past U+10FFFF are not) becomes U+FFFD, and decoding
// goes on with the next byte; *invalid, when given, tells whether any did.
std::wstring Utf8ToWide(const std::string& text, bool* invalid = nullptr);
// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), or 0
// where none starts; *codePoint, when given, receives its value.
size_t Utf8SequenceAt(const std::string& text, size_t at, uint32_t* codePoint = nullptr);
// The UTF-16 units of wide text: characters past U+FFFF become pairs where
// wchar_t has 32 bits (a value past U+10FFFF becomes U+FFFD); with 16 bits
// the units are taken as they are.
std::u16string WideToUtf16(const std::wstring& text);

// Blank sets for Trim, each named by the rule it follows.
constexpr char kCSpace[] = " \t\n\v\f\r";  // isspace in the "C" locale
constexpr char kXmlSpace[] = " \t\r\n";    // XML white space
constexpr char kHttpBlanks[] = " \t";      // HTTP's optional white space
// What the Windows profile functions strip around names and values.
constexpr wchar_t kProfileBlanks[] = L" \t\v\f\x1a";

// Without the leading and trailing characters of `blanks`.
std::string Trim(const std::string& text, const char* blanks);
std::wstring Trim(const std::wstring& text, const wchar_t* blanks);

// A-Z to a-z; every other byte as it is.
std::string AsciiLower(std::string text);

// Decimal digits only: no sign or blanks, and a value that fits 64 bits.
bool ParseU64(const std::string& text, uint64_t* value);

}  // namespace gd_text
