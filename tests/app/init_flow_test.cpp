#include "app/init_flow.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace {

constexpr int kNotFetched = 0;
constexpr int kKeyMissing = 1;
constexpr int kSkinMissing = 2;
constexpr int kAllFetched = 5;

}  // namespace

TEST(InitProgress, ClimbsByTwoAndStopsAtNinetyEight) {
  EXPECT_EQ(NextInitProgress(0), 2);
  EXPECT_EQ(NextInitProgress(40), 42);
  EXPECT_EQ(NextInitProgress(97), 98) << "an odd start is capped, not carried past 98";
  EXPECT_EQ(NextInitProgress(98), -1);
  EXPECT_EQ(NextInitProgress(100), -1);
}

TEST(InitProgress, FromZeroTakesFortyNineTicksThenEvaluates) {
  int value = 0;
  int ticks = 0;
  while (NextInitProgress(value) >= 0) {
    value = NextInitProgress(value);
    ++ticks;
  }
  EXPECT_EQ(ticks, 49);
  EXPECT_EQ(value, 98);
}

TEST(InitOutcome, FailuresAndUnusableListsOfferTheRetry) {
  for (int result : {kNotFetched, kKeyMissing, -1, 3, 4, 6}) {
    EXPECT_EQ(DecideInitOutcome(result, true, false), InitOutcome::InitialFailed) << result;
    EXPECT_EQ(DecideInitOutcome(result, true, true), InitOutcome::InitialFailed) << result;
  }
  EXPECT_EQ(DecideInitOutcome(kAllFetched, false, false), InitOutcome::InitialFailed);
  EXPECT_EQ(DecideInitOutcome(kSkinMissing, false, true), InitOutcome::InitialFailed)
      << "an unusable list wins over the version check";
}

TEST(InitOutcome, UsableConfigurationOpensTheDownloadWindowUnlessTheDownloaderIsOld) {
  EXPECT_EQ(DecideInitOutcome(kAllFetched, true, false), InitOutcome::DownloadWindowSkinned);
  EXPECT_EQ(DecideInitOutcome(kSkinMissing, true, false), InitOutcome::DownloadWindowBuiltIn);
  EXPECT_EQ(DecideInitOutcome(kAllFetched, true, true), InitOutcome::OlderVersion);
  EXPECT_EQ(DecideInitOutcome(kSkinMissing, true, true), InitOutcome::OlderVersion);
}

TEST(KeyFilter, DropsEnterAndEscapeInEveryKeyMessage) {
  for (unsigned msg = 0x100; msg <= 0x109; ++msg) {
    EXPECT_TRUE(IsSwallowedKeyMessage(msg, 13)) << msg;
    EXPECT_TRUE(IsSwallowedKeyMessage(msg, 27)) << msg;
    EXPECT_FALSE(IsSwallowedKeyMessage(msg, 32)) << msg;
  }
  EXPECT_FALSE(IsSwallowedKeyMessage(0xFF, 13));
  EXPECT_FALSE(IsSwallowedKeyMessage(0x10A, 27));
  EXPECT_FALSE(IsSwallowedKeyMessage(0x111, 13)) << "WM_COMMAND 13 is not a key";
  EXPECT_FALSE(IsSwallowedKeyMessage(0x201, 27)) << "a click is not a key";
}

TEST(DesktopShortcut, NamedAfterTheProgramsBaseName) {
  const std::wstring desktop = L"C:\\users\\player\\Desktop";
  EXPECT_EQ(DesktopShortcutPath(desktop, L"C:\\games\\星海下载器.exe"), desktop + L"\\星海下载器.lnk");
  EXPECT_EQ(DesktopShortcutPath(desktop, L"C:\\a.b\\setup.v2.exe"), desktop + L"\\setup.v2.lnk")
      << "only the last dot of the file name counts, not one in the folder";
  EXPECT_EQ(DesktopShortcutPath(desktop, L"C:\\a.b\\noext"), desktop + L"\\.lnk");
  EXPECT_EQ(ProgramFileName(L"C:\\games\\dl.exe"), L"dl.exe");
  EXPECT_EQ(ProgramFileName(L"dl.exe"), L"dl.exe");
}

TEST(TotalSize, SumsEveryEntryInSixtyFourBits) {
  std::vector<GameFileEntry> files(3);
  files[0].size = 5ULL << 32;
  files[1].size = 7;
  files[2].size = 0;
  EXPECT_EQ(TotalSizeOf(files), (5ULL << 32) + 7);
  EXPECT_EQ(TotalSizeOf(std::deque<GameFileEntry>()), 0u);
}

TEST(Title, GameNameInThePattern) {
  EXPECT_EQ(DownloaderTitle(L""), L"Brenva网游戏下载器-专版");
  EXPECT_EQ(DownloaderTitle(L"星海传说"), L"Brenva网游戏下载器-星海传说专版");
  EXPECT_EQ(DownloaderTitle(L"100%s"), L"Brenva网游戏下载器-100%s专版") << "the name is not a format";
}
