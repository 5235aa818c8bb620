#include "contract/text.h"

#include <gtest/gtest.h>

#include <string>

using namespace gd_text;

// Each caller's blank set keeps the rule it had: a line of a seed answer is
// trimmed of every C blank, an HTTP header value only of spaces and tabs, a
// manifest's text of XML white space, a profile line of what Windows strips.
TEST(TextRules, TrimKeepsEachCallersBlankSet) {
  struct Case {
    const char* name;
    const char* blanks;
    std::string in, out;
  } cases[] = {
      {"c-space", kCSpace, " \t\v\f\r\na b\n", "a b"},
      {"http", kHttpBlanks, " \tv\r\n \t", "v\r\n"},
      {"xml", kXmlSpace, "\r\n 12 \t\v", "12 \t\v"},
      {"all-blank", kCSpace, " \t\r\n", ""},
      {"empty", kHttpBlanks, "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Trim(c.in, c.blanks), c.out) << c.name;
  EXPECT_EQ(Trim(std::wstring(L"\x1a \t\v\fname\f\r\n"), kProfileBlanks), L"name\f\r\n");
}

TEST(TextRules, AsciiLowerTouchesOnlyAToZ) {
  EXPECT_EQ(AsciiLower("Content-LENGTH: [Z@]"), "content-length: [z@]");
  EXPECT_EQ(AsciiLower("\xC4\xD6\xDC"), "\xC4\xD6\xDC");
}

TEST(TextRules, ParseU64TakesDigitsThatFitAndNothingElse) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t value;
  } cases[] = {{"0", true, 0},
               {"007", true, 7},
               {"18446744073709551615", true, UINT64_MAX},
               {"18446744073709551616", false, 0},
               {"99999999999999999999", false, 0},
               {"000000000000000000001", false, 0},
               {"", false, 0},
               {"+1", false, 0},
               {" 1", false, 0},
               {"1 ", false, 0},
               {"-0", false, 0},
               {"1e3", false, 0}};
  for (const Case& c : cases) {
    uint64_t value = 12345;
    EXPECT_EQ(ParseU64(c.text, &value), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(value, c.ok ? c.value : 12345u) << '"' << c.text << '"';
  }
}

TEST(TextRules, Utf8ToWideRefusesWhatIsNotUtf8) {
  struct Case {
    const char* name;
    std::string in;
    size_t replaced;
  } cases[] = {
      {"overlong slash", "\xC0\xAF", 2},     {"overlong nul", "\xE0\x80\x80", 3}, {"surrogate", "\xED\xA0\x80", 3},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 4}, {"lone continuation", "\x80", 1},  {"cut short", "\xF0\x9F\x98", 3},
  };
  for (const Case& c : cases) {
    bool invalid = false;
    const std::wstring wide = Utf8ToWide("a" + c.in + "b", &invalid);
    EXPECT_TRUE(invalid) << c.name;
    EXPECT_EQ(wide, L"a" + std::wstring(c.replaced, L'\xFFFD') + L"b") << c.name;
  }
  bool invalid = true;
  EXPECT_EQ(Utf8ToWide("\xF4\x8F\xBF\xBF", &invalid).size(), sizeof(wchar_t) == 2 ? 2u : 1u);
  EXPECT_FALSE(invalid);
}

TEST(TextRules, WideTextReachesUtf8AndUtf16WhateverTheWidthOfWchar) {
  // A pair of UTF-16 units is one character also where wchar_t has 32 bits.
  std::wstring pair;
  pair += static_cast<wchar_t>(0xD83D);
  pair += static_cast<wchar_t>(0xDE00);
  EXPECT_EQ(WideToUtf8(pair), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf16(Utf8ToWide("x\xF0\x9F\x98\x80")), u"x\U0001F600");
  std::wstring lone(1, static_cast<wchar_t>(0xDC00));
  lone += L'a';
  EXPECT_EQ(WideToUtf8(lone), "\xEF\xBF\xBD"
                              "a");
  if (sizeof(wchar_t) == 4) {
    const std::wstring beyond(1, static_cast<wchar_t>(0x110000));
    EXPECT_EQ(WideToUtf8(beyond), "\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf16(beyond), u"\xFFFD");
  }
}
