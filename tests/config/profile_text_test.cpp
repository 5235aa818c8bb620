#include "config/profile_text.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

std::string Utf16Le(const std::wstring& text) { return EncodeUtf16LeWithMark(text); }

}  // namespace

TEST(ProfileLookup, NamesIgnoreCaseAndValuesAreTrimmed) {
  ProfileDocument doc(L"[gameconfig]\r\n  GAMENAME =  幻想之城 \t\r\nGameSize=1\n");
  EXPECT_EQ(doc.Lookup(L"GameConfig", L"GameName"), L"幻想之城");
  EXPECT_EQ(doc.Lookup(L"GAMECONFIG", L"gamesize"), L"1");
  EXPECT_EQ(doc.Lookup(L"GameConfig", L"Missing"), L"");
  EXPECT_EQ(doc.Lookup(L"Other", L"GameName"), L"");
}

TEST(ProfileLookup, FirstKeyAndFirstSectionWin) {
  ProfileDocument doc(L"[A]\nk=1\nK=2\n[B]\nx=3\n[a]\nk=4\nonly=5\n");
  EXPECT_EQ(doc.Lookup(L"A", L"k"), L"1");
  EXPECT_EQ(doc.Lookup(L"A", L"only"), L"") << "a repeated section is never searched";
  EXPECT_EQ(doc.RepeatedSections(), std::vector<std::wstring>{L"a"});
  ASSERT_EQ(doc.RepeatedKeys().size(), 1u);
  EXPECT_EQ(doc.RepeatedKeys()[0].second, L"K");
}

TEST(ProfileLookup, RepeatChecksStayLinearOnHugeDocuments) {
  // 100,000 keys once took a minute to judge.
  std::wstring text = L"[S]\n";
  for (int i = 0; i < 100000; ++i) text += L"k" + std::to_wstring(i % 50000) + L"=1\n";
  for (int i = 0; i < 100000; ++i) text += L"[t" + std::to_wstring(i % 50000) + L"]\n";
  ProfileDocument doc(text);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(doc.RepeatedKeys().size(), 50000u);
  EXPECT_EQ(doc.RepeatedSections().size(), 50000u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ProfileLookup, EnclosingQuotationMarksAreRemovedOnce) {
  ProfileDocument doc(L"[S]\na=\"x y\"\nb='z'\nc=\"\"q\"\"\nd=\"open\ne=\" padded \"\nf=\"\n");
  EXPECT_EQ(doc.Lookup(L"S", L"a"), L"x y");
  EXPECT_EQ(doc.Lookup(L"S", L"b"), L"z");
  EXPECT_EQ(doc.Lookup(L"S", L"c"), L"\"q\"");
  EXPECT_EQ(doc.Lookup(L"S", L"d"), L"\"open");
  EXPECT_EQ(doc.Lookup(L"S", L"e"), L" padded ");
  EXPECT_EQ(doc.Lookup(L"S", L"f"), L"\"");
}

TEST(ProfileLookup, OddLines) {
  ProfileDocument doc(L"early=0\n[ S ]\nnovalue\nempty=\n=noname\nv=a=b\n[broken\nw=1\n");
  EXPECT_EQ(doc.Lookup(L"S", L"early"), L"");
  EXPECT_EQ(doc.Lookup(L"S", L"v"), L"a=b");
  EXPECT_EQ(doc.Lookup(L"S", L"empty"), L"");
  EXPECT_EQ(doc.Lookup(L"S", L"w"), L"1") << "a line without ] does not open a section";
}

TEST(DecodeProfileBytes, Utf16LeWithMark) {
  DecodedProfile d = DecodeProfileBytes(Utf16Le(L"[GameConfig]\r\nGameName=幻想之城\r\n"));
  EXPECT_EQ(d.encoding, ProfileEncoding::kUtf16Le);
  EXPECT_EQ(d.text, L"[GameConfig]\r\nGameName=幻想之城\r\n");
  EXPECT_FALSE(d.nonAscii);
}

TEST(DecodeProfileBytes, Utf8WithoutMarkIsFlaggedWhenNotAscii) {
  DecodedProfile ascii = DecodeProfileBytes("[S]\nk=v\n");
  EXPECT_EQ(ascii.encoding, ProfileEncoding::kNoMark);
  EXPECT_FALSE(ascii.nonAscii);
  DecodedProfile chinese = DecodeProfileBytes("[S]\nk=\xE5\xB9\xBB\n");
  EXPECT_TRUE(chinese.nonAscii);
  EXPECT_FALSE(chinese.invalidUtf8);
  EXPECT_EQ(ProfileDocument(chinese.text).Lookup(L"S", L"k"), L"幻");
  DecodedProfile gbk = DecodeProfileBytes("[S]\nk=\xBB\xC3\n");
  EXPECT_TRUE(gbk.invalidUtf8);
}

TEST(DecodeProfileBytes, Utf8MarkStaysInTheFirstLineAsWindowsReadsIt) {
  DecodedProfile first = DecodeProfileBytes("\xEF\xBB\xBF[GameConfig]\nGameName=x\n[DownLoader]\nNewVersion=1\n");
  EXPECT_EQ(first.encoding, ProfileEncoding::kUtf8WithBom);
  ProfileDocument doc(first.text);
  EXPECT_EQ(doc.Lookup(L"GameConfig", L"GameName"), L"");
  EXPECT_EQ(doc.Lookup(L"DownLoader", L"NewVersion"), L"1");
  ProfileDocument later(DecodeProfileBytes("\xEF\xBB\xBF\r\n[GameConfig]\nGameName=x\n").text);
  EXPECT_EQ(later.Lookup(L"GameConfig", L"GameName"), L"x");
}

TEST(DecodeProfileBytes, BigEndianIsRecognisedAsSuch) {
  EXPECT_EQ(DecodeProfileBytes(std::string("\xFE\xFF\x00[", 4)).encoding, ProfileEncoding::kUtf16Be);
}

TEST(TextConversion, RoundTripsOutsideTheBasicPlane) {
  const std::string utf8 = "a\xE5\xB9\xBB\xF0\x9F\x8E\xAE";  // a, 幻, U+1F3AE
  bool invalid = true;
  std::wstring wide = Utf8ToWide(utf8, &invalid);
  EXPECT_FALSE(invalid);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(DecodeProfileBytes(EncodeUtf16LeWithMark(wide)).text, wide);
  EXPECT_EQ(EncodeUtf16LeWithMark(wide).size(), 2u + 2 * 4);  // mark, a, 幻, surrogate pair
}

TEST(TextConversion, MalformedUtf8BecomesReplacementCharacters) {
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE5\xB9", "\xFF", "\xF4\x90\x80\x80"}) {
    bool invalid = false;
    std::wstring wide = Utf8ToWide(bad, &invalid);
    EXPECT_TRUE(invalid) << bad;
    EXPECT_NE(wide.find(static_cast<wchar_t>(0xFFFD)), std::wstring::npos);
  }
}
