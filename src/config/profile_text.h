#pragma once

// Reading an INI file the way the Windows private-profile functions read it,
// for checking a configuration away from Windows.
#include <string>
#include <utility>
#include <vector>

#include "contract/text.h"

enum class ProfileEncoding {
  kUtf16Le,      // FF FE: read as UTF-16 by Windows
  kUtf16Be,      // FE FF: not recognised by Windows
  kUtf8WithBom,  // EF BB BF: not recognised either; the mark stays in line 1
  kNoMark,       // read in the player's ANSI code page
};

struct DecodedProfile {
  ProfileEncoding encoding = ProfileEncoding::kNoMark;
  std::wstring text;
  bool nonAscii = false;     // bytes above 127 in a file without a UTF-16 mark
  bool invalidUtf8 = false;  // such bytes that are not UTF-8 either
};

// A UTF-8 byte-order mark is kept as U+FEFF at the start of the text, because
// Windows reads it as characters of the first line.
DecodedProfile DecodeProfileBytes(const std::string& bytes);

std::string EncodeUtf16LeWithMark(const std::wstring& text);
using gd_text::Utf8ToWide;
using gd_text::WideToUtf8;

class ProfileDocument {
 public:
  explicit ProfileDocument(const std::wstring& text);

  // Section and key names match without regard to case; only the first
  // section of a name is searched and the first matching key wins; blanks
  // around the value and one pair of enclosing quotation marks are removed.
  // Missing keys give the empty text.
  std::wstring Lookup(const wchar_t* section, const wchar_t* key) const;

  // Names that appear more than once, where the later ones are never read.
  std::vector<std::wstring> RepeatedSections() const;
  std::vector<std::pair<std::wstring, std::wstring>> RepeatedKeys() const;  // (section, key)

 private:
  struct Section {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> entries;
  };
  const Section* FindSection(const wchar_t* name) const;

  std::vector<Section> m_sections;
};
