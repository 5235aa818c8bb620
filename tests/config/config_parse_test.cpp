#include "config/config_parse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <utility>

namespace {

using Ini = std::map<std::pair<std::wstring, std::wstring>, std::wstring>;

struct FakeIni {
  Ini values;
  std::vector<std::wstring> readOrder;
  ConfigLookup Lookup() {
    return [this](const wchar_t* section, const wchar_t* key) {
      readOrder.push_back(std::wstring(section) + L"/" + key);
      auto it = values.find({section, key});
      return it == values.end() ? std::wstring() : it->second;
    };
  }
};

FakeIni MinimalSingleFile() {
  FakeIni ini;
  ini.values[{L"GameConfig", L"GameName"}] = L"幻想之城";
  ini.values[{L"GameConfig", L"GameSize"}] = L"1234";
  ini.values[{L"GameConfig", L"GameDownloadLink"}] = L"http://h/dl/setup.exe";
  ini.values[{L"DownLoader", L"NewVersion"}] = L"1.1.0.1010";
  return ini;
}

GameFileEntry Entry(uint64_t size, const std::wstring& link, const std::wstring& md5) {
  GameFileEntry e;
  e.size = size;
  e.downloadLink = link;
  e.md5Text = md5;
  return e;
}

}  // namespace

TEST(SplitFileLists, ParallelListsGiveOneEntryPerItem) {
  auto files = SplitFileLists(L"100,200", L"a,b", L"x,y");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0], Entry(100, L"a", L"x"));
  EXPECT_EQ(files[1], Entry(200, L"b", L"y"));
}

TEST(SplitFileLists, LinkListWithoutSeparatorStaysForLastEntry) {
  auto files = SplitFileLists(L"100,200,300", L"a", L"");
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0], Entry(100, L"", L""));
  EXPECT_EQ(files[1], Entry(200, L"", L""));
  EXPECT_EQ(files[2], Entry(300, L"a", L""));
}

TEST(SplitFileLists, ShorterListsLeaveEmptyFieldsInLaterEntries) {
  auto files = SplitFileLists(L"1", L"a,b,c", L"x,y");
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0], Entry(0, L"a", L"x"));
  // Lists that ran out of separators keep their remainder for the last entry.
  EXPECT_EQ(files[1], Entry(0, L"b", L""));
  EXPECT_EQ(files[2], Entry(1, L"c", L"y"));
}

TEST(SplitFileLists, SeparatorAtFirstPositionOfEveryListEndsSplitting) {
  auto files = SplitFileLists(L",5", L",a", L"");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], Entry(0, L",a", L""));
}

TEST(SplitFileLists, EmptyItemsInsideAListKeepTheirPlace) {
  auto files = SplitFileLists(L"10,,30", L"a,,c", L",y,");
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0], Entry(10, L"a", L""));
  EXPECT_EQ(files[1], Entry(0, L"", L"y"));
  EXPECT_EQ(files[2], Entry(30, L"c", L""));
}

TEST(ParseSizeText, ReadsLeadingDigitsOnly) {
  EXPECT_EQ(ParseSizeText(L"  42abc"), 42u);
  EXPECT_EQ(ParseSizeText(L"abc"), 0u);
  EXPECT_EQ(ParseSizeText(L""), 0u);
  EXPECT_EQ(ParseSizeText(L"-5"), 0u);
  EXPECT_EQ(ParseSizeText(L"\t7 8"), 7u);
  EXPECT_EQ(ParseSizeText(L"5368709120"), 5368709120ull);  // beyond 32 bits
  EXPECT_EQ(ParseSizeText(L"18446744073709551615"), 18446744073709551615ull);
  EXPECT_EQ(ParseSizeText(L"99999999999999999999999"), 18446744073709551615ull);
}

TEST(FileNameOfLink, TakesTextAfterLastSlash) {
  EXPECT_EQ(FileNameOfLink(L"http://h/a/b/setup.exe"), L"setup.exe");
  EXPECT_EQ(FileNameOfLink(L"setup.exe"), L"setup.exe");
  EXPECT_EQ(FileNameOfLink(L"http://h/dir/"), L"");
}

TEST(IsSafeFileName, RefusesNamesThatLeaveTheDirectory) {
  for (const wchar_t* bad :
       {L".", L"..", L"..\\..\\evil.exe", L"C:evil.exe", L"a:b", L"a*b", L"a?b", L"a\"b", L"a<b", L"a>b", L"a|b",
        L"tab\there", L"NUL", L"nul.txt", L"CON", L"com1.exe", L"LPT9", L"aux .txt"}) {
    EXPECT_FALSE(IsSafeFileName(bad)) << std::wstring(bad).size();
  }
  for (const wchar_t* good : {L"setup.exe", L"game.part1.rar", L"...data", L"中文安装包.exe", L"com10.exe",
                              L"console.exe", L"nul_file", L"a b.exe"}) {
    EXPECT_TRUE(IsSafeFileName(good));
  }
}

TEST(ParseConfiguration, SingleFileNeedsNoGameStart) {
  FakeIni ini = MinimalSingleFile();
  ConfigValues v;
  ASSERT_TRUE(ParseConfiguration(ini.Lookup(), v));
  ASSERT_EQ(v.files.size(), 1u);
  EXPECT_EQ(v.files[0], Entry(1234, L"http://h/dl/setup.exe", L""));
  EXPECT_EQ(v.gameName, L"幻想之城");
  for (const std::wstring& key : ini.readOrder) EXPECT_NE(key, L"GameConfig/GameStart");
}

TEST(ParseConfiguration, TwoFilesRequireGameStart) {
  FakeIni ini = MinimalSingleFile();
  ini.values[{L"GameConfig", L"GameSize"}] = L"100,200";
  ini.values[{L"GameConfig", L"GameDownloadLink"}] = L"http://h/a.exe,http://h/b.bin";
  ConfigValues v;
  EXPECT_FALSE(ParseConfiguration(ini.Lookup(), v));
  ini.values[{L"GameConfig", L"GameStart"}] = L"a.exe";
  EXPECT_TRUE(ParseConfiguration(ini.Lookup(), v));
  EXPECT_EQ(v.gameStart, L"a.exe");
  EXPECT_EQ(v.files.size(), 2u);
}

TEST(ParseConfiguration, RequiredKeysMissingFail) {
  for (auto key : {std::make_pair(L"GameConfig", L"GameName"), std::make_pair(L"GameConfig", L"GameSize"),
                   std::make_pair(L"GameConfig", L"GameDownloadLink"), std::make_pair(L"DownLoader", L"NewVersion")}) {
    FakeIni ini = MinimalSingleFile();
    ini.values.erase({key.first, key.second});
    ConfigValues v;
    EXPECT_FALSE(ParseConfiguration(ini.Lookup(), v)) << key.second[4];
  }
}

TEST(ParseConfiguration, MissingNewVersionKeepsWhatWasReadBefore) {
  FakeIni ini = MinimalSingleFile();
  ini.values.erase({L"DownLoader", L"NewVersion"});
  ini.values[{L"GameConfig", L"SeedUrl"}] = L"http://seed/";
  ini.values[{L"Gardbox", L"DomainName"}] = L"http://stats/";
  ConfigValues v;
  EXPECT_FALSE(ParseConfiguration(ini.Lookup(), v));
  EXPECT_EQ(v.gameName, L"幻想之城");
  EXPECT_EQ(v.seedUrl, L"http://seed/");
  EXPECT_EQ(v.domainName, L"");  // read after NewVersion, never reached
}

TEST(ParseConfiguration, DefaultNewVersionDownloaderLink) {
  FakeIni ini = MinimalSingleFile();
  ConfigValues v;
  ASSERT_TRUE(ParseConfiguration(ini.Lookup(), v));
  EXPECT_EQ(v.newVersionDownloaderLink, kDefaultNewVersionDownloaderLink);
  ini.values[{L"DownLoader", L"NewVersionDownloaderLink"}] = L"http://x/new";
  ASSERT_TRUE(ParseConfiguration(ini.Lookup(), v));
  EXPECT_EQ(v.newVersionDownloaderLink, L"http://x/new");
}

TEST(ParseConfiguration, ReadsKeysInTheFixedOrder) {
  FakeIni ini = MinimalSingleFile();
  ConfigValues v;
  ASSERT_TRUE(ParseConfiguration(ini.Lookup(), v));
  std::vector<std::wstring> expected = {L"GameConfig/GameName",
                                        L"GameConfig/GameSize",
                                        L"GameConfig/GameDownloadLink",
                                        L"GameConfig/GameMd5",
                                        L"GameConfig/SeedUrl",
                                        L"DownLoader/SkinLink",
                                        L"DownLoader/NewVersion",
                                        L"DownLoader/NewVersionDownloaderLink",
                                        L"DownLoader/EmbedLink2",
                                        L"Gardbox/GardboxDownloaderLink",
                                        L"Gardbox/safecheck",
                                        L"GameConfig/GameVersion",
                                        L"DownLoader/GardBoxInstallTip",
                                        L"DownLoader/TextPromotionTitle",
                                        L"DownLoader/TextPromotionLink",
                                        L"Gardbox/CancelDownloadTips",
                                        L"Gardbox/DomainName",
                                        L"Gardbox/GardboxMd5",  // the newer optional keys come last
                                        L"GameConfig/PeerSharing"};
  EXPECT_EQ(ini.readOrder, expected);
}

TEST(ParseConfiguration, RepeatedParseDoesNotDoubleTheFileList) {
  FakeIni ini = MinimalSingleFile();
  ConfigValues v;
  ASSERT_TRUE(ParseConfiguration(ini.Lookup(), v));
  ASSERT_TRUE(ParseConfiguration(ini.Lookup(), v));
  EXPECT_EQ(v.files.size(), 1u);
  // A later failing parse does not leave the old list behind either.
  ini.values.erase({L"DownLoader", L"NewVersion"});
  ini.values[{L"GameConfig", L"GameSize"}] = L"5,6";
  ini.values[{L"GameConfig", L"GameDownloadLink"}] = L"a,b";
  ini.values[{L"GameConfig", L"GameStart"}] = L"a";
  EXPECT_FALSE(ParseConfiguration(ini.Lookup(), v));
  EXPECT_EQ(v.files.size(), 2u);
}

TEST(ParseConfiguration, LongListsAreKeptWhole) {
  FakeIni ini = MinimalSingleFile();
  std::wstring sizes, links;
  for (int i = 0; i < 300; ++i) {
    if (i) {
      sizes += L",";
      links += L",";
    }
    sizes += std::to_wstring(1000 + i);
    links += L"http://download.example.invalid/games/a-rather-long-folder-name/part" + std::to_wstring(i) + L".bin";
  }
  ASSERT_GT(links.size(), 4096u);
  ini.values[{L"GameConfig", L"GameSize"}] = sizes;
  ini.values[{L"GameConfig", L"GameDownloadLink"}] = links;
  ini.values[{L"GameConfig", L"GameStart"}] = L"part0.bin";
  ConfigValues v;
  ASSERT_TRUE(ParseConfiguration(ini.Lookup(), v));
  ASSERT_EQ(v.files.size(), 300u);
  EXPECT_EQ(v.files[299].size, 1299u);
  EXPECT_EQ(FileNameOfLink(v.files[299].downloadLink), L"part299.bin");
}

TEST(ParseConfiguration, UnsafeFileNameFailsAndLeavesNoList) {
  for (const wchar_t* link :
       {L"http://h/..", L"http://h/x\\..\\..\\Windows\\evil.dll", L"http://h/C:evil.exe", L"http://h/a|b?t=1"}) {
    FakeIni ini = MinimalSingleFile();
    ini.values[{L"GameConfig", L"GameDownloadLink"}] = link;
    ConfigValues v;
    EXPECT_FALSE(ParseConfiguration(ini.Lookup(), v));
    EXPECT_TRUE(v.files.empty());
  }
}

TEST(ParseConfiguration, EmptyFileNameIsLeftForLaterChecks) {
  FakeIni ini = MinimalSingleFile();
  ini.values[{L"GameConfig", L"GameDownloadLink"}] = L"http://h/dir/";
  ConfigValues v;
  EXPECT_TRUE(ParseConfiguration(ini.Lookup(), v));
  ASSERT_EQ(v.files.size(), 1u);
  EXPECT_EQ(FileNameOfLink(v.files[0].downloadLink), L"");
}

TEST(FileNameOfLink, TextAfterTheLastSlashCutAtQueryOrFragment) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"http://down.example.invalid/dl.php?file=/game/setup.exe", L"setup.exe"},
      {L"http://cdn.example.invalid/g/data1.pak?token=abcd", L"data1.pak"},
      {L"http://cdn.example.invalid/g/data1.pak?token=ab/cd", L"cd"},
      {L"http://h/g/game#2.exe", L"game"},
      {L"http://h/g/?name=a.exe", L""},
      {L"http://h/g/a.exe?#", L"a.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileNameOfLink(c.first), c.second) << c.first;
}

TEST(StaysInFolder, RefusesOnlyNamesThatLeaveTheirFolder) {
  for (const wchar_t* bad :
       {L"", L".", L".\\", L"..", L"..\\a.exe", L"a\\..\\..\\b.exe", L"sub/../../b.exe", L".. \\a.exe",
        L"...\\a.exe", L"C:evil.exe", L"C:\\Windows\\notepad.exe", L"\\Windows\\a.exe", L"/etc/a",
        L"\\\\host\\share\\x.exe", L"\\\\?\\C:\\x.exe", L"sub\\NUL", L"com1.exe", L"sub\\",
        L"\"a.exe\" /evil"}) {
    EXPECT_FALSE(StaysInFolder(bad)) << bad;
  }
  for (const wchar_t* good : {L"setup.exe", L".\\setup.exe", L"./setup.exe", L"sub\\setup.exe", L"sub/a.exe",
                              L"...data", L"中文安装包.exe"}) {
    EXPECT_TRUE(StaysInFolder(good)) << good;
  }
}

TEST(ParseConfiguration, EveryKeyIsReadBeforeAValueIsRefused) {
  struct Case {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
    bool accepted;
    bool companionKept;
  };
  const Case cases[] = {
      {L"GameConfig", L"GameStart", L"a.exe", true, true},
      {L"GameConfig", L"GameStart", L".\\a.exe", true, true},
      {L"GameConfig", L"GameStart", L"sub/a.exe", true, true},
      {L"GameConfig", L"GameStart", L"..\\..\\Windows\\system32\\calc.exe", false, true},
      {L"GameConfig", L"GameStart", L"C:\\Windows\\notepad.exe", false, true},
      {L"GameConfig", L"GameStart", L"\\\\host\\share\\x.exe", false, true},
      {L"GameConfig", L"GameStart", L"..", false, true},
      {L"GameConfig", L"GameStart", L"\"a.exe\" /evil", false, true},
      {L"GameConfig", L"GameDownloadLink", L"http://h/a.exe,http://h/x\\..\\..\\b.bin", false, true},
      {L"Gardbox", L"GardboxDownloaderLink", L"http://h/box/setup.exe?v=2", true, true},
      {L"Gardbox", L"GardboxDownloaderLink", L"http://h/box/..", true, false},
      {L"Gardbox", L"GardboxDownloaderLink", L"http://h/x\\..\\..\\Startup\\run.exe", true, false},
      {L"Gardbox", L"GardboxDownloaderLink", L"C:\\evil.exe", true, false},
      {L"Gardbox", L"GardboxDownloaderLink", L"http://h/NUL", true, false},
  };
  for (const Case& c : cases) {
    FakeIni ini = MinimalSingleFile();
    ini.values[{L"GameConfig", L"GameSize"}] = L"100,200";
    ini.values[{L"GameConfig", L"GameDownloadLink"}] = L"http://h/a.exe?k=1,http://h/b.bin#f";
    ini.values[{L"GameConfig", L"GameStart"}] = L"a.exe";
    ini.values[{L"Gardbox", L"GardboxDownloaderLink"}] = L"http://h/box/gb.exe";
    ini.values[{L"Gardbox", L"GardboxMd5"}] = L"0123";
    ini.values[{L"Gardbox", L"DomainName"}] = L"http://stats.example.invalid/s.php";
    ini.values[{c.section, c.key}] = c.value;
    ConfigValues v;
    EXPECT_EQ(ParseConfiguration(ini.Lookup(), v), c.accepted) << c.value;
    EXPECT_EQ(v.refusal.empty(), c.accepted) << c.value;
    // The report address is known whatever is refused.
    EXPECT_EQ(v.domainName, L"http://stats.example.invalid/s.php") << c.value;
    EXPECT_EQ(v.companionLink.empty(), !c.companionKept) << c.value;
    EXPECT_EQ(v.droppedCompanion.empty(), c.companionKept) << c.value;
    EXPECT_EQ(v.companionMd5.empty(), !c.companionKept) << c.value;
  }
}

TEST(SplitFileLists, TimeGrowsLinearlyWithTheList) {
  // 400,000 items once took half a minute; a linear split takes a fraction
  // of a second even in a sanitizer build.
  std::wstring sizes, links;
  const int items = 400000;
  for (int i = 0; i < items; ++i) {
    sizes += L"7,";
    links += L"a,";
  }
  const auto start = std::chrono::steady_clock::now();
  std::vector<GameFileEntry> files = SplitFileLists(sizes, links, L"");
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(files.size(), static_cast<size_t>(items) + 1);
  EXPECT_EQ(files[items - 1], Entry(7, L"a", L""));
  EXPECT_LT(took, std::chrono::seconds(3));
}
