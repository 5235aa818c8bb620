#include "contract/text.h"

namespace gd_text {
namespace {

bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c < 0xE000; }
bool IsSurrogate(uint32_t c) { return c >= 0xD800 && c < 0xE000; }

void AppendUtf16(std::u16string& out, uint32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

void AppendWide(std::wstring& out, uint32_t c) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

template <typename Char>
std::basic_string<Char> TrimOf(const std::basic_string<Char>& text, const Char* blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::basic_string<Char>::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(static_cast<uint32_t>(text[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    if (IsSurrogate(c) || c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

size_t Utf8SequenceAt(const std::string& text, size_t at, uint32_t* codePoint) {
  static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (at >= text.size()) return 0;
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  const int extra = lead < 0x80             ? 0
                    : (lead & 0xE0) == 0xC0 ? 1
                    : (lead & 0xF0) == 0xE0 ? 2
                    : (lead & 0xF8) == 0xF0 ? 3
                                            : -1;
  if (extra < 0 || at + static_cast<size_t>(extra) >= text.size()) return 0;
  uint32_t c = extra == 0 ? lead : lead & (0x7Fu >> (extra + 1));
  for (int k = 1; k <= extra; ++k) {
    const uint8_t next = static_cast<uint8_t>(text[at + static_cast<size_t>(k)]);
    if ((next & 0xC0) != 0x80) return 0;
    c = c << 6 | (next & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (c < kMinimum[extra] || c > 0x10FFFF || IsSurrogate(c)) return 0;
  if (codePoint) *codePoint = c;
  return static_cast<size_t>(extra) + 1;
}

std::wstring Utf8ToWide(const std::string& text, bool* invalid) {
  std::wstring out;
  out.reserve(text.size());
  bool bad = false;
  for (size_t i = 0; i < text.size();) {
    uint32_t c = 0;
    const size_t length = Utf8SequenceAt(text, i, &c);
    if (length == 0) {
      bad = true;
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    AppendWide(out, c);
    i += length;
  }
  if (invalid) *invalid = bad;
  return out;
}

std::u16string WideToUtf16(const std::wstring& text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    const uint32_t c = sizeof(wchar_t) == 2 ? static_cast<uint32_t>(w) & 0xFFFF : static_cast<uint32_t>(w);
    AppendUtf16(out, c > 0x10FFFF ? 0xFFFD : c);
  }
  return out;
}

std::string Trim(const std::string& text, const char* blanks) { return TrimOf(text, blanks); }

std::wstring Trim(const std::wstring& text, const wchar_t* blanks) { return TrimOf(text, blanks); }

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool ParseU64(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

}  // namespace gd_text
