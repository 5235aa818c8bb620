#include "core/answer.h"
#include "core/links.h"
#include "core/proxy.h"
#include "core/text.h"

#include <gtest/gtest.h>

namespace p2sp {
namespace {

TEST(ParseTaskLink, PlainAndPDownForms) {
  TaskLink plain = ParseTaskLink("http://h/g/setup.exe");
  EXPECT_TRUE(plain.valid);
  EXPECT_EQ(plain.url, "http://h/g/setup.exe");
  EXPECT_EQ(plain.h1, "");

  TaskLink p = ParseTaskLink("PDown://b7=1|http://h/g/setup.exe?a=1&b=2|h1=0123456789ABCDEF0123456789abcdef");
  EXPECT_TRUE(p.valid);
  EXPECT_EQ(p.url, "http://h/g/setup.exe?a=1&b=2");
  EXPECT_EQ(p.h1, "0123456789abcdef0123456789abcdef");

  TaskLink noH1 = ParseTaskLink("PDown://b7=1|https://h/x.bin|h1=");
  EXPECT_TRUE(noH1.valid);
  EXPECT_EQ(noH1.h1, "");
}

TEST(ParseTaskLink, UnusableLinksAreRefused) {
  EXPECT_FALSE(ParseTaskLink("").valid);
  EXPECT_FALSE(ParseTaskLink("ftp://h/x").valid);
  EXPECT_FALSE(ParseTaskLink("http://").valid);
  EXPECT_FALSE(ParseTaskLink("PDown://b7=1|h1=0123456789abcdef0123456789abcdef").valid);  // no URL
  EXPECT_FALSE(ParseTaskLink("PDown://b7=1|http://h/x|h1=12345").valid);                  // short MD5
  EXPECT_FALSE(ParseTaskLink("PDown://b7=1|http://h/x|h1=zz23456789abcdef0123456789abcdef").valid);
}

TEST(ParseSeedAnswer, KeepsHttpLinesOnceAndSkipsTheRest) {
  std::string body =
      "# mirrors\r\nhttp://m1/x.bin\r\n\r\n  https://m2/x.bin  \nftp://m3/x.bin\nnot a url\nhttp://m1/x.bin\n"
      "http://bad url/x\nhttp://m4/x.bin";
  EXPECT_EQ(ParseSeedAnswer(body, 10),
            (std::vector<std::string>{"http://m1/x.bin", "https://m2/x.bin", "http://m4/x.bin"}));
  EXPECT_EQ(ParseSeedAnswer(body, 1), (std::vector<std::string>{"http://m1/x.bin"}));
  EXPECT_TRUE(ParseSeedAnswer("", 10).empty());
}

TEST(SeedQueryUrl, EncodesItsValuesAndJoinsAnExistingQuery) {
  EXPECT_EQ(SeedQueryUrl("http://s/seed", "abc", "a b&c.exe", 5000000000ull),
            "http://s/seed?h1=abc&name=a%20b%26c.exe&size=5000000000");
  EXPECT_EQ(SeedQueryUrl("http://s/seed?g=1", "", "x", 0), "http://s/seed?g=1&h1=&name=x&size=0");
  EXPECT_EQ(SeedQueryUrl("http://s/seed", "", "x", 1, std::string(64, 'a')),
            "http://s/seed?h1=&name=x&size=1&sha256=" + std::string(64, 'a'));
  EXPECT_EQ(SeedQueryUrl("http://s/seed", "", "x", 1, std::string(64, 'a'), 7000),
            "http://s/seed?h1=&name=x&size=1&sha256=" + std::string(64, 'a') + "&port=7000");
  EXPECT_EQ(SeedQueryUrl("http://s/seed", "", "x", 1, "", 7000), "http://s/seed?h1=&name=x&size=1");
  // Named as the program names the file: after the last "/", cut at "?" or "#".
  EXPECT_EQ(FileNameOfUrl("http://h/a/b/setup.exe?x=1#z"), "setup.exe");
  EXPECT_EQ(FileNameOfUrl("http://h/dl.php?file=/game/setup.exe"), "setup.exe");
  EXPECT_EQ(FileNameOfUrl("http://h/g/game#2.exe"), "game");
}

TEST(ParseSeedPeers, ReadsAddressesOnlyAndMirrorsSkipThem) {
  const std::string body =
      "http://m1/x.bin\npeer 198.51.100.7:7000\r\npeer [2001:db8::1]:7001\npeer 198.51.100.7:7000\n"
      "peer example.com:80\npeer 1.2.3:80\npeer 1.2.3.256:80\npeer 1.2.3.4:0\npeer 1.2.3.4:65536\n"
      "peer 1.2.3.4\npeer [::1]x:80\npeer [a b]:80\n  peer 203.0.113.1:9  \n"
      // No one is reached at these: every host, broadcast, multicast, link-local (the cloud's
      // metadata service among them).
      "peer 0.0.0.0:80\npeer 255.255.255.255:80\npeer 224.0.0.1:80\npeer 239.255.71.71:80\n"
      "peer 169.254.169.254:80\npeer 169.254.1.1:80\npeer [::]:80\npeer [::0]:80\npeer [ff02::1]:80\n"
      "peer [FE80::1]:80\npeer [febf::1]:80\npeer [::ffff:169.254.169.254]:80\npeer 0.1.2.3:80\n"
      "peer [fec0::1]:80\npeer 127.0.0.1:81\n";
  EXPECT_EQ(ParseSeedPeers(body, 10),
            (std::vector<PeerAddress>{{"198.51.100.7", 7000}, {"[2001:db8::1]", 7001}, {"203.0.113.1", 9}, {"[fec0::1]", 80},
                                      {"127.0.0.1", 81}}));
  EXPECT_EQ(ParseSeedPeers(body, 1).size(), 1u);
  EXPECT_EQ(ParseSeedAnswer(body, 10), (std::vector<std::string>{"http://m1/x.bin"}));
  EXPECT_EQ(PeerPieceUrl({"[2001:db8::1]", 7001}, "ab"), "http://[2001:db8::1]:7001/p/ab");
}

TEST(Utf8, RoundTripsThroughWideTextIncludingPairsAndChinese) {
  std::string text = "D:\\\xE4\xB8\x8B\xE8\xBD\xBD\\\xF0\x9F\x98\x80.exe";  // 下载 and an emoji
  std::wstring wide = Utf8ToWide(text);
  EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 12u : 11u);
  EXPECT_EQ(WideToUtf8(wide), text);
  EXPECT_EQ(Utf8ToWide("\xFF"
                       "a"),
            std::wstring(L"\xFFFD"
                         L"a"));
  EXPECT_EQ(Utf8ToWide("\xE4\xB8"), std::wstring(L"\xFFFD\xFFFD"));
}

TEST(ParseContentRange, AcceptsTheThreeFormsAndNothingElse) {
  ContentRange r = ParseContentRange("bytes 0-99/1000");
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.first, 0u);
  EXPECT_EQ(r.last, 99u);
  EXPECT_EQ(r.total, 1000u);
  r = ParseContentRange("bytes 5000000000-5000000009/*");
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.first, 5000000000ull);
  EXPECT_EQ(r.total, kUnknownTotal);
  r = ParseContentRange("bytes */0");
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.total, 0u);
  EXPECT_EQ(r.first, kUnknownTotal);
  for (const char* bad :
       {"", "bytes", "bytes 0-99", "items 0-99/100", "bytes 9-1/100", "bytes 0-100/100", "bytes -5-9/100",
        "bytes 0-9/1x", "bytes */*", "bytes 0-99/18446744073709551616", "bytes 0- 9/100"}) {
    EXPECT_FALSE(ParseContentRange(bad).valid) << bad;
  }
  uint64_t v = 0;
  EXPECT_TRUE(ParseU64("18446744073709551615", &v));
  EXPECT_EQ(v, UINT64_MAX);
  EXPECT_FALSE(ParseU64("18446744073709551616", &v));
  EXPECT_FALSE(ParseU64("+1", &v));
}

TEST(PickSystemProxy, SchemeEntriesFallbackAndBypass) {
  const std::string list = "http=proxy:8080;https=secure:8443";
  EXPECT_EQ(PickSystemProxy(list, "", "http://cdn.example.com/a"), "proxy:8080");
  EXPECT_EQ(PickSystemProxy(list, "", "https://cdn.example.com/a"), "secure:8443");
  EXPECT_EQ(PickSystemProxy("ftp=f:21", "", "http://h.example/a"), "");
  EXPECT_EQ(PickSystemProxy("one:3128", "", "https://h.example/a"), "one:3128");
  const std::string bypass = "*.corp.example; <local>;10.*";
  EXPECT_EQ(PickSystemProxy("one:3128", bypass, "http://files.CORP.example:81/x"), "");
  EXPECT_EQ(PickSystemProxy("one:3128", bypass, "http://intranet/x"), "");
  EXPECT_EQ(PickSystemProxy("one:3128", bypass, "http://10.1.2.3/x"), "");
  EXPECT_EQ(PickSystemProxy("one:3128", bypass, "http://corp.example.org/x"), "one:3128");
  EXPECT_EQ(PickSystemProxy("one:3128", "", "http://127.0.0.1:8080/x"), "");
  EXPECT_EQ(PickSystemProxy("one:3128", "", "http://localhost/x"), "");
  EXPECT_EQ(PickSystemProxy("", "", "http://h.example/x"), "");
  EXPECT_EQ(HostOfUrl("http://user:pw@Host.Example:8080/p?q"), "host.example");
  EXPECT_EQ(HostOfUrl("http://[::1]:80/"), "::1");
}

TEST(ProgressLine, ShowsSizesSpeedAndEta) {
  EXPECT_EQ(ProgressLine(512ull << 20, 1ull << 30, 8ull << 20), "512.00 MiB / 1.00 GiB (50%)  8.00 MiB/s  ETA 0:01:04");
  EXPECT_EQ(ProgressLine(100, 0, 0), "100 B  0 B/s  ETA --:--:--");
}

}  // namespace
}  // namespace p2sp
