#include "skin/html_url.h"

#include <gtest/gtest.h>

#include <utility>

TEST(HtmlUrl, WebAddressesGoToTheBrowser) {
  EXPECT_TRUE(IsWebAddress(L"http://www.example.com/"));
  EXPECT_TRUE(IsWebAddress(L"HTTPS://bbs.example.com/forum-62-1.html?a=1&b=2"));
}

TEST(HtmlUrl, LocalTargetsAndOtherSchemesAreRefused) {
  EXPECT_FALSE(IsWebAddress(L"C:\\Windows\\system32\\calc.exe"));
  EXPECT_FALSE(IsWebAddress(L"file:///C:/Windows/notepad.exe"));
  EXPECT_FALSE(IsWebAddress(L"javascript:alert(1)"));
  EXPECT_FALSE(IsWebAddress(L"\\\\server\\share\\setup.exe"));
  EXPECT_FALSE(IsWebAddress(L"httpx://example.com/"));
  EXPECT_FALSE(IsWebAddress(L""));
}

TEST(HtmlUrl, AddressesThatWouldBreakTheBrowserCommandLineAreRefused) {
  EXPECT_FALSE(IsWebAddress(L"http://"));
  EXPECT_FALSE(IsWebAddress(L"http:///path"));
  EXPECT_FALSE(IsWebAddress(L"http://example.com/\" -nohome \"x"));
  EXPECT_FALSE(IsWebAddress(L"http://example.com/\r\nx"));
}

TEST(HtmlUrl, OnlyPlainWebAddressesPassTheOneShellRule) {
  struct Case {
    const wchar_t* url;
    bool web;
  };
  const Case cases[] = {
      {L"https://cdn.example.com/data1.pak?token=a%20b#top", true},
      {L"Http://example.com", true},
      {L"http://\\\\server\\share\\setup.exe", false},
      {L"\\\\?\\C:\\setup.exe", false},
      {L"C:/Windows/notepad.exe", false},
      {L"setup.exe", false},
      {L"..\\..\\setup.exe", false},
      {L"FILE://C:/x", false},
      {L"ms-settings:", false},
      {L"mailto:a@example.com", false},
      {L"\"http://example.com/\"", false},
      {L" http://example.com/", false},
      {L"http://example.com/ C:\\x.exe", false},
      {L"http://example.com/\tx", false},
      {L"http://example.com/\x7f", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWebAddress(c.url), c.web) << std::wstring(c.url).size();
}

TEST(HtmlUrl, ConfiguredPagesWrittenAsAHostNameGetHttp) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"www.example.com/dl/new.html?a=1", L"http://www.example.com/dl/new.html?a=1"},
      {L"bbs.example-game.com", L"http://bbs.example-game.com"},
      {L"https://www.example.com/", L"https://www.example.com/"},
      // Whatever IsWebAddress refuses and is no host name stays refused.
      {L"C:\\Windows\\notepad.exe", L""},
      {L"\\\\host\\share\\x.exe", L""},
      {L"file:///C:/x.exe", L""},
      {L"www.example.com:8080/", L""},
      {L"www.example.com\\x", L""},
      {L"www.example.com/a b", L""},
      {L"www.example.com/\"x", L""},
      {L"/dl/new.html", L""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ShellWebAddress(c.first), c.second) << c.first;
}
