#include "config/profile_text.h"

#include <cwctype>
#include <unordered_set>

namespace {

std::wstring Trim(const std::wstring& text) { return gd_text::Trim(text, gd_text::kProfileBlanks); }

bool SameNameNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

// The form two names share when SameNameNoCase holds for them.
std::wstring UpperName(const std::wstring& name) {
  std::wstring upper(name);
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  return upper;
}

std::wstring FromUtf16(const std::string& bytes, size_t start, bool bigEndian) {
  std::wstring out;
  out.reserve((bytes.size() - start) / 2);
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    uint8_t lo = static_cast<uint8_t>(bytes[bigEndian ? i + 1 : i]);
    uint8_t hi = static_cast<uint8_t>(bytes[bigEndian ? i : i + 1]);
    uint32_t unit = static_cast<uint32_t>(hi) << 8 | lo;
    if (sizeof(wchar_t) == 2) {
      out += static_cast<wchar_t>(unit);
      continue;
    }
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      uint8_t lo2 = static_cast<uint8_t>(bytes[bigEndian ? i + 3 : i + 2]);
      uint8_t hi2 = static_cast<uint8_t>(bytes[bigEndian ? i + 2 : i + 3]);
      uint32_t next = static_cast<uint32_t>(hi2) << 8 | lo2;
      if (next >= 0xDC00 && next < 0xE000) {
        out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        i += 2;
        continue;
      }
    }
    out += static_cast<wchar_t>(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
  }
  return out;
}

}  // namespace

std::string EncodeUtf16LeWithMark(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  for (char16_t unit : gd_text::WideToUtf16(text)) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

DecodedProfile DecodeProfileBytes(const std::string& bytes) {
  DecodedProfile result;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    result.encoding = ProfileEncoding::kUtf16Le;
    result.text = FromUtf16(bytes, 2, false);
    return result;
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    result.encoding = ProfileEncoding::kUtf16Be;
    result.text = FromUtf16(bytes, 2, true);
    return result;
  }
  size_t start = 0;
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    result.encoding = ProfileEncoding::kUtf8WithBom;
    start = 3;
  }
  for (size_t i = start; i < bytes.size() && !result.nonAscii; ++i) {
    if (static_cast<uint8_t>(bytes[i]) > 127) result.nonAscii = true;
  }
  result.text = Utf8ToWide(bytes.substr(start), &result.invalidUtf8);
  if (start > 0) result.text.insert(result.text.begin(), static_cast<wchar_t>(0xFEFF));
  return result;
}

ProfileDocument::ProfileDocument(const std::wstring& text) {
  Section* current = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of(L"\r\n", pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] == L'[') {
      size_t close = line.find(L']');
      if (close != std::wstring::npos) {
        m_sections.push_back(Section{Trim(line.substr(1, close - 1)), {}});
        current = &m_sections.back();
        continue;
      }
    }
    // Lines before the first section belong to none and are never found.
    if (!current) continue;
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) {
      current->entries.emplace_back(line, std::wstring());
    } else {
      current->entries.emplace_back(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
    }
  }
}

const ProfileDocument::Section* ProfileDocument::FindSection(const wchar_t* name) const {
  for (const Section& s : m_sections) {
    if (SameNameNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

std::wstring ProfileDocument::Lookup(const wchar_t* section, const wchar_t* key) const {
  const Section* s = FindSection(section);
  if (!s) return std::wstring();
  for (const auto& entry : s->entries) {
    if (!SameNameNoCase(entry.first, key)) continue;
    const std::wstring& value = entry.second;
    if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0]) {
      return value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::wstring();
}

std::vector<std::wstring> ProfileDocument::RepeatedSections() const {
  // One pass with a set of names seen, so a document of many sections is
  // judged in linear time.
  std::vector<std::wstring> repeated;
  std::unordered_set<std::wstring> seen;
  for (const Section& s : m_sections) {
    if (!seen.insert(UpperName(s.name)).second) repeated.push_back(s.name);
  }
  return repeated;
}

std::vector<std::pair<std::wstring, std::wstring>> ProfileDocument::RepeatedKeys() const {
  std::vector<std::pair<std::wstring, std::wstring>> repeated;
  for (const Section& s : m_sections) {
    std::unordered_set<std::wstring> seen;
    for (const auto& entry : s.entries) {
      if (!seen.insert(UpperName(entry.first)).second) repeated.emplace_back(s.name, entry.first);
    }
  }
  return repeated;
}
