#include "download/download_driver.h"

#include <gtest/gtest.h>

#include <memory>

#include "download/progress_text.h"
#include "download_fakes.h"

namespace {

GameFileEntry Entry(uint64_t size, const std::wstring& name) {
  return GameFileEntry{size, L"http://dl.example.invalid/game/" + name, L"0123456789abcdef0123456789abcdef"};
}

constexpr wchar_t kDir[] = L"D:\\games\\";
constexpr wchar_t kTemp[] = L"C:\\temp\\";

class DriverTest : public ::testing::Test {
 protected:
  void Make(std::vector<GameFileEntry> files, const std::wstring& safecheck = L"1") {
    DownloadSettings settings;
    settings.fileList = std::move(files);
    settings.safecheck = safecheck;
    settings.gameStart = L"setup.exe";
    settings.companionLink = companionLink;
    settings.tempDir = kTemp;
    disk.fileSystems[L"D:\\"] = L"NTFS";
    disk.freeBytes[L"D:\\"] = 1ull << 40;
    disk.paths.insert(L"D:\\games");
    disk.paths.insert(kDir);
    driver = std::make_unique<CDownloadDriver>(engine, window, disk, disk, reports, resume, settings);
    driver->Progress().saveDir = kDir;
  }

  // Presses the download button with the directory already chosen.
  void StartDownloading() {
    driver->OnDownloadCommand(0);
    ASSERT_GT(driver->GameTask(), 0);
  }

  void SetGame(uint64_t total, uint64_t done, uint32_t speed, uint8_t state = 0) {
    engine.status[driver->GameTask()] = TaskStatus{total, done, speed, 0, state};
  }

  // The engine has finished the current file and put it in place.
  void FinishCurrentFile(bool placeFile = true) {
    const GameFileEntry item = driver->Progress().currentItem;
    const std::wstring path = std::wstring(kDir) + item.downloadLink.substr(item.downloadLink.rfind(L'/') + 1);
    if (placeFile) disk.AddFile(path, item.size);
    SetGame(item.size, item.size, 0, kTaskStateFinished);
  }

  std::wstring companionLink = L"http://dl.example.invalid/gardbox_setup.exe";
  FakeEngine engine;
  FakeWindow window;
  FakeDisk disk;
  FakeReports reports;
  FakeStore store;
  CResumeState resume{store};
  std::unique_ptr<CDownloadDriver> driver;
};

TEST(GameTaskLinkTest, CarriesLinkAndMd5Text) {
  GameFileEntry item{5, L"http://a/b.exe", L"abc"};
  EXPECT_EQ(GameTaskLink(item), L"PDown://b7=1|http://a/b.exe|h1=abc");
}

TEST_F(DriverTest, BeginDownload_NewTaskUsesPDownLinkAndStartsAtOnceWithoutCompanion) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  ASSERT_EQ(engine.created.size(), 1u);
  EXPECT_EQ(engine.created[0].url,
            L"PDown://b7=1|http://dl.example.invalid/game/game.exe|h1=0123456789abcdef0123456789abcdef");
  EXPECT_EQ(engine.created[0].path, L"D:\\games\\game.exe");
  EXPECT_EQ(engine.created[0].window, window.NotifyWindow());
  EXPECT_EQ(engine.started, std::vector<int>{driver->GameTask()});
  EXPECT_EQ(window.mode, ModeDownloading);
  EXPECT_TRUE(window.timers.count(kTimerPoll));
  EXPECT_EQ(window.mutexHeld, 1);
  EXPECT_EQ(reports.Count(kActionStartDownload), 1);
  EXPECT_EQ(reports.calls[0].tg, 0);
  EXPECT_EQ(window.autoThreadStarts, 1);

  // The companion watchdog has nothing to watch: the companion is never asked about.
  SetGame(1000, 10, 100);
  driver->OnPollTimer();
  for (int id : engine.queried) EXPECT_EQ(id, driver->GameTask());
}

TEST_F(DriverTest, StallRule_RestartsAfterNinetyOneIdlePollsAndFailsOnTheFourthStall) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  SetGame(1000, 10, 0);
  for (int i = 0; i < 90; ++i) driver->OnPollTimer();
  EXPECT_EQ(engine.created.size(), 1u) << "exactly 90 idle polls must not restart";
  EXPECT_EQ(driver->StallCount(), 90u);

  driver->OnPollTimer();
  ASSERT_EQ(engine.created.size(), 2u) << "the 91st does";
  EXPECT_EQ(engine.created[1].url, engine.created[0].url) << "made again, the task keeps its MD5 text";
  EXPECT_EQ(engine.created[1].window, nullptr);
  EXPECT_EQ(driver->RestartCount(), 1u);
  EXPECT_EQ(window.mode, ModeDownloading);

  for (int restart = 2; restart <= 3; ++restart) {
    SetGame(1000, 10, 0);
    for (int i = 0; i < 91; ++i) driver->OnPollTimer();
    EXPECT_EQ(driver->RestartCount(), static_cast<unsigned>(restart));
  }
  EXPECT_EQ(engine.created.size(), 4u);
  EXPECT_EQ(window.downloadFailedShown, 0);

  SetGame(1000, 10, 0);
  for (int i = 0; i < 91; ++i) driver->OnPollTimer();
  EXPECT_EQ(engine.created.size(), 4u) << "no fourth restart";
  EXPECT_EQ(window.downloadFailedShown, 1);
  EXPECT_EQ(driver->RestartCount(), 0u);
  EXPECT_FALSE(window.timers.count(kTimerPoll));
  EXPECT_EQ(window.mode, ModeRestart);
  ASSERT_EQ(reports.Count(kActionCompleteDownload), 1);
  EXPECT_EQ(reports.calls.back().cg, 0);
  EXPECT_EQ(reports.calls.back().cwdm, kFailStalled);
  EXPECT_EQ(window.mutexHeld, 0) << "the failed item gives its mutex back";
  EXPECT_EQ(window.autoThreadStops, 1);
}

TEST_F(DriverTest, StallRule_AnyProgressResetsTheCount) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  SetGame(1000, 10, 0);
  for (int i = 0; i < 80; ++i) driver->OnPollTimer();
  SetGame(1000, 20, 512);
  driver->OnPollTimer();
  EXPECT_EQ(driver->StallCount(), 0u);
  SetGame(1000, 20, 0);
  for (int i = 0; i < 90; ++i) driver->OnPollTimer();
  EXPECT_EQ(engine.created.size(), 1u);
}

TEST_F(DriverTest, Offline_ParksTasksAndResumesThemWhenBackOnline) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  const int task = driver->GameTask();
  SetGame(1000, 10, 0);
  window.online = false;
  driver->OnPollTimer();
  EXPECT_EQ(engine.stopped, std::vector<int>{task});
  EXPECT_TRUE(window.timers.count(kTimerReconnect));
  EXPECT_FALSE(window.timers.count(kTimerPoll));
  EXPECT_EQ(driver->StallCount(), 0u) << "being offline is no stall";

  driver->OnReconnectTimer();
  EXPECT_EQ(engine.created.size(), 1u);
  EXPECT_TRUE(window.timers.count(kTimerReconnect));

  window.online = true;
  driver->OnReconnectTimer();
  ASSERT_EQ(engine.created.size(), 2u);
  EXPECT_EQ(engine.started.back(), driver->GameTask());
  EXPECT_FALSE(window.timers.count(kTimerReconnect));
  EXPECT_TRUE(window.timers.count(kTimerPoll));
  EXPECT_EQ(window.mode, ModeDownloading);
}

TEST_F(DriverTest, Companion_RunsFirstAndIsInstalledWhenFinished) {
  Make({Entry(1000, L"game.exe")});
  window.companionChecked = true;
  StartDownloading();
  const int game = driver->GameTask();
  const int companion = driver->CompanionTask();
  ASSERT_GT(companion, 0);
  EXPECT_EQ(engine.created[1].path, L"C:\\temp\\gardbox_setup.exe");
  EXPECT_EQ(engine.started, std::vector<int>{companion}) << "the game waits for the companion";
  EXPECT_FALSE(window.companionEnabled);
  EXPECT_EQ(reports.calls[0].tg, 1);

  engine.status[companion] = TaskStatus{300, 100, 50, 0, 0};
  PollDisplay shown = driver->OnPollTimer();
  EXPECT_EQ(shown.total, 1300u);
  EXPECT_EQ(shown.done, 100u);
  EXPECT_EQ(shown.speed, 50u);
  EXPECT_EQ(store.values[L"GDSize"], L"300");

  engine.status[companion] = TaskStatus{300, 300, 0, 0, kTaskStateFinished};
  shown = driver->OnPollTimer();
  EXPECT_TRUE(driver->CompanionFinished());
  EXPECT_EQ(window.installersRun, std::vector<std::wstring>{L"C:\\temp\\gardbox_setup.exe"});
  EXPECT_EQ(engine.started.back(), game);
  EXPECT_EQ(shown.done, 300u) << "a finished companion counts whole";

  SetGame(1000, 400, 10);
  shown = driver->OnPollTimer();
  EXPECT_EQ(shown.total, 1300u);
  EXPECT_EQ(shown.done, 700u);
  EXPECT_EQ(shown.percent, 53);
}

TEST_F(DriverTest, Companion_SixIdlePollsGiveItUpWithoutInstalling) {
  Make({Entry(1000, L"game.exe")});
  window.companionChecked = true;
  StartDownloading();
  const int game = driver->GameTask();
  const int companion = driver->CompanionTask();
  engine.status[companion] = TaskStatus{300, 0, 0, 0, 0};
  for (int i = 0; i < 5; ++i) driver->OnPollTimer();
  EXPECT_FALSE(driver->CompanionFinished());
  EXPECT_EQ(engine.started, std::vector<int>{companion});

  driver->OnPollTimer();
  EXPECT_TRUE(driver->CompanionFinished());
  EXPECT_TRUE(window.installersRun.empty());
  EXPECT_EQ(engine.stopped, std::vector<int>{companion});
  EXPECT_EQ(engine.started.back(), game);
}

TEST_F(DriverTest, Companion_MutexTakenElsewhereStartsTheGameAtOnce) {
  Make({Entry(1000, L"game.exe")});
  window.companionChecked = true;
  window.companionMutexTaken = true;
  StartDownloading();
  EXPECT_EQ(driver->CompanionTask(), -1);
  EXPECT_EQ(engine.created.size(), 1u);
  EXPECT_EQ(engine.started, std::vector<int>{driver->GameTask()});

  SetGame(1000, 100, 10);
  const PollDisplay shown = driver->OnPollTimer();
  EXPECT_EQ(shown.total, 1000u) << "no companion in the totals";
  EXPECT_EQ(shown.speed, 10u);
}

TEST_F(DriverTest, Progress_ValuesWithAndWithoutCompanion) {
  Make({Entry(600, L"a.bin"), Entry(400, L"b.bin")});
  StartDownloading();
  EXPECT_EQ(driver->GetGameProgressPercent(), 0) << "total still unknown";
  SetGame(600, 300, 0);
  EXPECT_EQ(driver->GetGameProgressPercent(), 30);
  driver->Progress().completedBytes = 100;
  EXPECT_EQ(driver->GetGameProgressPercent(), 40);

  EXPECT_EQ(driver->GetCompanionTotalSize(), 0u) << "box cleared";
  EXPECT_EQ(driver->GetCompanionDoneSize(), 0u);
  window.companionChecked = true;
  EXPECT_EQ(driver->GetCompanionTotalSize(), kDefaultCompanionSize) << "no task, nothing remembered";
  store.values[L"GDSize"] = L"4096";
  EXPECT_EQ(driver->GetCompanionTotalSize(), 4096u);
  disk.AddFile(L"C:\\temp\\gardbox_setup.exe", 777);
  EXPECT_EQ(driver->GetCompanionDoneSize(), 777u) << "the installer already on disk";
}

TEST_F(DriverTest, Progress_WithoutCompanionLinkTheTickedBoxAddsNothing) {
  companionLink.clear();
  Make({Entry(1000, L"game.exe")});
  window.companionChecked = true;
  store.values[L"GDSize"] = L"4096";
  EXPECT_EQ(driver->GetCompanionTotalSize(), 0u);
  driver->RefreshProgress();
  EXPECT_EQ(window.sizes, L"0.00B/1000.00B");
  StartDownloading();
  FinishCurrentFile();
  driver->OnPollTimer();
  EXPECT_EQ(window.sizes, L"1000.00B/1000.00B");
  EXPECT_EQ(window.progress, 100);
}

TEST_F(DriverTest, OneFileGame_VerifiedFileEndsInInstallPrompt) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  const int task = driver->GameTask();
  window.installResult = PromptResultAction;
  FinishCurrentFile();
  driver->OnPollTimer();
  EXPECT_EQ(window.mode, ModeFinished);
  EXPECT_EQ(window.progress, 100);
  EXPECT_EQ(window.installShown, 1);
  EXPECT_EQ(window.posted, std::vector<int>{kCmdInstall});
  EXPECT_EQ(window.sent.front(), std::make_pair(kCmdActivate, 0));
  EXPECT_EQ(engine.removed, std::vector<int>{task});
  EXPECT_EQ(window.mutexHeld, 0);
  EXPECT_TRUE(driver->Progress().pendingItems.empty());
  EXPECT_EQ(driver->Progress().completedBytes, 1000u);
  ASSERT_EQ(reports.Count(kActionCompleteDownload), 1);
  EXPECT_EQ(reports.calls.back().cg, 1);
  EXPECT_EQ(window.speed, L"速度：0.0KB/s");
}

TEST_F(DriverTest, ThreeFileGame_RunsFileAfterFileAndPromptsOnceAtTheEnd) {
  Make({Entry(100, L"a.bin"), Entry(200, L"b.bin"), Entry(300, L"c.bin")});
  StartDownloading();
  for (int file = 0; file < 3; ++file) {
    if (file > 0) driver->OnDownloadCommand(kAutoContinueParam);  // the auto-continue thread
    EXPECT_EQ(window.mutexHeld, 1);
    FinishCurrentFile();
    driver->OnPollTimer();
    EXPECT_EQ(window.mutexHeld, 0);
    EXPECT_EQ(window.installShown, file == 2 ? 1 : 0);
    EXPECT_EQ(driver->Progress().pendingItems.size(), 2u - file);
  }
  EXPECT_EQ(reports.Count(kActionStartDownload), 1);
  EXPECT_EQ(reports.Count(kActionCompleteDownload), 1);
  EXPECT_EQ(driver->Progress().completedBytes, 600u);
  EXPECT_TRUE(window.fileCheckShown.empty());

  disk.AddFile(L"D:\\games\\setup.exe", 5);
  driver->RunInstaller();
  EXPECT_EQ(window.opened, std::vector<std::wstring>{L"D:\\games\\setup.exe"});
}

TEST_F(DriverTest, Md5Mismatch_ShowsFileCheckPromptAndReportsReasonThree) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  disk.badMd5.insert(L"D:\\games\\game.exe");
  FinishCurrentFile();
  driver->OnPollTimer();
  ASSERT_EQ(window.fileCheckShown.size(), 1u);
  EXPECT_FALSE(window.fileCheckShown[0]);
  EXPECT_EQ(window.installShown, 0);
  ASSERT_EQ(reports.Count(kActionCompleteDownload), 1);
  EXPECT_EQ(reports.calls.back().cg, 0);
  EXPECT_EQ(reports.calls.back().cwdm, kFailCheck);
  EXPECT_EQ(window.mutexHeld, 0);
  EXPECT_EQ(driver->Progress().pendingItems.size(), 1u);
}

TEST_F(DriverTest, FileCheckPrompt_ResultDecidesWhatFollows) {
  const struct {
    int files;
    int result;
    int mode;     // -1: left as it was
    int command;  // 0: none sent
  } cases[] = {
      {3, PromptResultAction, -1, kCmdRedownload},  // more files: start over
      {1, PromptResultAction, ModeFinished, kCmdOpenDir},
      {3, 1, ModeRestart, 0},
      {1, 0, ModeFinished, 0},
      {3, PromptResultFeedback, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.files << " files, result " << c.result);
    window = FakeWindow();
    disk = FakeDisk();
    std::vector<GameFileEntry> files;
    for (int i = 0; i < c.files; ++i) files.push_back(Entry(100, L"f" + std::to_wstring(i)));
    Make(files);
    StartDownloading();
    window.fileCheckResult = c.result;
    window.mode = 99;
    disk.badMd5.insert(L"D:\\games\\f0");
    FinishCurrentFile();
    driver->OnPollTimer();
    ASSERT_EQ(window.fileCheckShown.size(), 1u);
    EXPECT_EQ(window.fileCheckShown[0], c.files > 1) << "told whether more files remain";
    EXPECT_EQ(window.mode, c.mode == -1 ? 99 : c.mode);
    EXPECT_EQ(window.autoThreadStops, 1);
    if (c.command) {
      ASSERT_FALSE(window.sent.empty());
      EXPECT_EQ(window.sent.back().first, c.command);
    } else {
      EXPECT_TRUE(window.sent.empty());
    }
  }
}

TEST_F(DriverTest, ChangeSaveDir_AcceptedFolderReplacesTheProposal) {
  Make({Entry(100, L"a.bin"), Entry(200, L"b.bin")});
  disk.fileSystems[L"E:\\"] = L"NTFS";
  disk.freeBytes[L"E:\\"] = 100;  // not more than the 300 needed
  disk.paths.insert(L"E:\\full");
  disk.fileSystems[L"F:\\"] = L"NTFS";
  disk.freeBytes[L"F:\\"] = 1000;
  disk.paths.insert(L"F:\\games");
  window.browseAnswers = {L"E:\\full", L"F:\\games"};
  window.dirErrorResult = PromptResultAction;
  driver->ChangeSaveDir();
  EXPECT_EQ(window.dirErrors, std::vector<std::wstring>{kSpaceMessage});
  EXPECT_EQ(driver->Progress().saveDir, L"F:\\games\\");
  EXPECT_EQ(window.shownDir, L"F:\\games\\");
  EXPECT_FALSE(window.dirAccepted) << "still changeable until the download starts";
  EXPECT_TRUE(store.values.find(L"Dir") == store.values.end()) << "remembered only when the download starts";

  window.browseAnswers.clear();
  driver->ChangeSaveDir();
  EXPECT_EQ(driver->Progress().saveDir, L"F:\\games\\") << "cancel changes nothing";
}

TEST_F(DriverTest, Md5IsNotCheckedUnlessSafecheckIsOne) {
  Make({Entry(1000, L"game.exe")}, L"0");
  StartDownloading();
  disk.badMd5.insert(L"D:\\games\\game.exe");
  FinishCurrentFile();
  driver->OnPollTimer();
  EXPECT_TRUE(window.fileCheckShown.empty());
  EXPECT_EQ(window.installShown, 1);
}

TEST_F(DriverTest, EngineFailureStates_ReportTheirReasons) {
  const struct {
    uint8_t state;
    int reports;
    int cwdm;
  } cases[] = {{5, 1, kFailDownload}, {6, 1, kFailCheck}, {7, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    reports.calls.clear();
    window = FakeWindow();
    Make({Entry(1000, L"game.exe")});
    StartDownloading();
    reports.calls.clear();
    SetGame(1000, 10, 0, c.state);
    driver->OnPollTimer();
    EXPECT_EQ(window.downloadFailedShown, 1);
    EXPECT_EQ(window.mode, ModeRestart);
    EXPECT_EQ(window.mutexHeld, 0);
    ASSERT_EQ(static_cast<int>(reports.calls.size()), c.reports);
    if (c.reports) {
      EXPECT_EQ(reports.calls[0].cwdm, c.cwdm);
    }
  }
}

TEST_F(DriverTest, FileWait_HoldsTheItemUntilTheFileAppears) {
  Make({Entry(100, L"a.bin"), Entry(200, L"b.bin")});
  StartDownloading();
  FinishCurrentFile(false);
  driver->OnPollTimer();
  EXPECT_TRUE(window.timers.count(kTimerFileWait));
  EXPECT_EQ(window.mutexHeld, 1) << "the next file must not start yet";
  EXPECT_EQ(driver->Progress().pendingItems.size(), 2u);

  driver->OnFileWaitTimer();
  driver->OnFileWaitTimer();
  disk.AddFile(L"D:\\games\\a.bin", 100);
  driver->OnFileWaitTimer();
  EXPECT_FALSE(window.timers.count(kTimerFileWait));
  EXPECT_EQ(window.mutexHeld, 0);
  EXPECT_EQ(driver->Progress().pendingItems.size(), 1u);
  EXPECT_EQ(driver->Progress().pendingItems.front().downloadLink, L"http://dl.example.invalid/game/b.bin");
  EXPECT_TRUE(window.fileCheckShown.empty());
}

TEST_F(DriverTest, FileWait_GivesUpAfterThirtySecondsWithAFailure) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  FinishCurrentFile(false);
  driver->OnPollTimer();
  for (int i = 0; i < 29; ++i) driver->OnFileWaitTimer();
  EXPECT_TRUE(window.timers.count(kTimerFileWait));
  EXPECT_EQ(window.downloadFailedShown, 0);
  EXPECT_EQ(reports.Count(kActionCompleteDownload), 0);

  driver->OnFileWaitTimer();
  EXPECT_FALSE(window.timers.count(kTimerFileWait));
  EXPECT_EQ(window.downloadFailedShown, 1);
  ASSERT_EQ(reports.Count(kActionCompleteDownload), 1);
  EXPECT_EQ(reports.calls.back().cwdm, kFailCheck);
  EXPECT_EQ(window.mutexHeld, 0);
}

TEST_F(DriverTest, DownloadFlow_WithoutAProposalAsksForAFolderFirst) {
  Make({Entry(1000, L"game.exe")});
  driver->Progress().saveDir.clear();
  driver->OnDownloadCommand(0);
  EXPECT_EQ(window.browses, 1);
  EXPECT_TRUE(window.dirErrors.empty()) << "an empty path is not tested";
  EXPECT_EQ(window.mutexHeld, 0);
  EXPECT_TRUE(engine.created.empty());
  EXPECT_EQ(window.mode, ModeReady);

  window.browseAnswers.push_back(L"D:\\games");
  driver->OnDownloadCommand(0);
  EXPECT_EQ(driver->Progress().saveDir, L"D:\\games\\");
  EXPECT_TRUE(window.dirAccepted);
  EXPECT_EQ(store.values[L"Dir"], L"D:\\games\\");
  EXPECT_EQ(engine.created.size(), 1u);
}

TEST_F(DriverTest, DownloadFlow_RefusedDirectoryAsksAgainOnConfirm) {
  Make({Entry(1000, L"game.exe")});
  disk.freeBytes[L"D:\\"] = 1000;  // equal to the need: refused
  disk.fileSystems[L"E:\\"] = L"NTFS";
  disk.freeBytes[L"E:\\"] = 5000;
  disk.paths.insert(L"E:\\dl");
  window.dirErrorResult = PromptResultAction;
  window.browseAnswers.push_back(L"E:\\dl");
  driver->OnDownloadCommand(0);
  EXPECT_EQ(window.dirErrors, std::vector<std::wstring>{kSpaceMessage});
  EXPECT_EQ(driver->Progress().saveDir, L"E:\\dl\\");
  EXPECT_EQ(engine.created.size(), 1u);
}

TEST_F(DriverTest, DownloadFlow_RefusalNotConfirmedEndsWithNothingStarted) {
  Make({Entry(1000, L"game.exe")});
  disk.readOnly.insert(L"D:\\");
  driver->OnDownloadCommand(0);
  EXPECT_EQ(window.dirErrors, std::vector<std::wstring>{kPermissionMessage});
  EXPECT_EQ(window.mutexHeld, 0);
  EXPECT_EQ(window.mode, ModeReady);
  EXPECT_TRUE(engine.created.empty());
  EXPECT_EQ(reports.Count(kActionStartDownload), 0);
}

TEST_F(DriverTest, DownloadFlow_FileAlreadyThereMovesToTheNext) {
  Make({Entry(100, L"a.bin"), Entry(200, L"b.bin")});
  disk.AddFile(L"D:\\games\\a.bin", 100);
  driver->OnDownloadCommand(0);
  EXPECT_TRUE(engine.created.empty());
  EXPECT_EQ(window.mutexHeld, 0) << "the auto-continue thread may go on";
  EXPECT_EQ(driver->Progress().completedBytes, 100u);
  driver->OnDownloadCommand(kAutoContinueParam);
  ASSERT_EQ(engine.created.size(), 1u);
  EXPECT_EQ(engine.created[0].path, L"D:\\games\\b.bin");
}

TEST_F(DriverTest, DownloadCommand_WithoutEngineShowsTheFailure) {
  Make({Entry(1000, L"game.exe")});
  engine.loaded = false;
  driver->OnDownloadCommand(0);
  EXPECT_EQ(window.downloadFailedShown, 1);
  EXPECT_TRUE(engine.created.empty());
  EXPECT_EQ(window.mutexHeld, 0);
}

TEST_F(DriverTest, PauseAndContinue) {
  Make({Entry(1000, L"game.exe")});
  StartDownloading();
  const int task = driver->GameTask();
  driver->OnPauseCommand();
  EXPECT_EQ(engine.stopped, std::vector<int>{task});
  EXPECT_EQ(window.mode, ModePaused);
  EXPECT_FALSE(window.timers.count(kTimerPoll));
  EXPECT_EQ(reports.calls.back().action, kActionPauseDownload);

  disk.AddFile(L"D:\\games\\game.exe.P2P", 10);
  driver->OnContinueCommand();
  EXPECT_EQ(reports.calls.back().action, kActionRestartDownload);
  EXPECT_EQ(engine.started.back(), task);
  EXPECT_EQ(window.mode, ModeDownloading);
  EXPECT_TRUE(window.timers.count(kTimerPoll));
}

TEST_F(DriverTest, Startup_PartialDownloadOpensPausedWithPlainLinkTasks) {
  Make({Entry(1000, L"game.exe")});
  store.values[L"DLGD"] = L"1";
  disk.AddFile(L"D:\\games\\game.exe.P2P", 500);  // the engine's record supplies the MD5 text
  driver->Progress().currentItem = Entry(1000, L"game.exe");
  driver->OnStartup(ResumePartial);
  EXPECT_TRUE(window.companionChecked);
  EXPECT_FALSE(window.companionEnabled);
  ASSERT_EQ(engine.created.size(), 2u);
  EXPECT_EQ(engine.created[0].url, L"http://dl.example.invalid/game/game.exe");
  EXPECT_EQ(engine.created[0].window, nullptr);
  EXPECT_EQ(engine.created[1].window, nullptr);
  EXPECT_EQ(window.mode, ModePaused);
  EXPECT_FALSE(window.timers.count(kTimerPoll));
}

TEST_F(DriverTest, Startup_CompleteAndSomeComplete) {
  Make({Entry(1536, L"a.bin"), Entry(512, L"b.bin")});
  driver->OnStartup(ResumeComplete);
  EXPECT_EQ(window.mode, ModeFinished);
  EXPECT_EQ(window.progress, 100);
  EXPECT_EQ(window.sizes, L"2.00KB/2.00KB");

  window = FakeWindow();
  Make({Entry(1536, L"a.bin"), Entry(512, L"b.bin")});
  driver->Progress().completedBytes = 1536;
  driver->Progress().pendingItems.pop_front();
  driver->OnStartup(ResumeSomeComplete);
  EXPECT_EQ(window.mode, ModePaused);
  EXPECT_EQ(window.progress, 75);
  EXPECT_EQ(window.sizes, L"1.50KB/2.00KB");
  EXPECT_TRUE(driver->SomeItemsDone());
  EXPECT_EQ(driver->Progress().currentItem.downloadLink, L"http://dl.example.invalid/game/b.bin");
}

TEST_F(DriverTest, Redownload_HoldsTheFilesForTheEngineAndDropsWhatNoTaskTook) {
  Make({Entry(100, L"a.bin"), Entry(200, L"b.bin")});
  driver->StartEngine();
  EXPECT_TRUE(engine.discardOldTargets);
  disk.AddFile(L"D:\\games\\a.bin", 100);
  disk.AddFile(L"D:\\games\\b.bin", 50);
  disk.AddFile(L"D:\\games\\b.bin.P2P", 20);
  driver->Progress().completedBytes = 100;
  driver->Progress().pendingItems.clear();
  driver->Redownload();
  EXPECT_TRUE(disk.deleted.empty());
  EXPECT_EQ(driver->Progress().pendingItems.size(), 2u);
  EXPECT_EQ(driver->Progress().completedBytes, 0u);
  EXPECT_EQ(window.sent.back(), std::make_pair(kCmdDownload, 0));
  // A held file goes to the engine even when it looks complete.
  driver->OnDownloadCommand(0);
  ASSERT_EQ(engine.created.size(), 1u);
  EXPECT_EQ(engine.created[0].path, L"D:\\games\\a.bin");
  driver->CloseEngine();
  EXPECT_EQ(disk.deleted, (std::vector<std::wstring>{L"D:\\games\\b.bin"}));
  EXPECT_TRUE(disk.paths.count(L"D:\\games\\b.bin.P2P")) << "the engine resumes from it";
}

TEST_F(DriverTest, HeldFiles_MakeRoomInTheirFolderAndGoIfTheDownloadGoesElsewhere) {
  for (const bool elsewhere : {false, true}) {
    SCOPED_TRACE(elsewhere ? "elsewhere" : "same folder");
    disk = FakeDisk();
    engine = FakeEngine();
    Make({Entry(100, L"a.bin"), Entry(200, L"b.bin")});
    disk.freeBytes[L"D:\\"] = 250;  // less than the 300 needed, more than 300 - 100 held
    disk.AddFile(L"D:\\games\\a.bin", 100);
    disk.fileSystems[L"E:\\"] = L"NTFS";
    disk.freeBytes[L"E:\\"] = 1000;
    disk.paths.insert(L"E:\\dl");
    HoldDownloadedFiles(kDir, {Entry(100, L"a.bin"), Entry(200, L"b.bin")}, true, driver->Progress());
    if (elsewhere) driver->Progress().saveDir = L"E:\\dl\\";
    driver->OnDownloadCommand(0);
    EXPECT_TRUE(window.dirErrors.empty());
    ASSERT_EQ(engine.created.size(), 1u);
    EXPECT_EQ(disk.paths.count(L"D:\\games\\a.bin"), elsewhere ? 0u : 1u);
    EXPECT_EQ(driver->Progress().heldNames.size(), elsewhere ? 0u : 1u);
  }
}

TEST_F(DriverTest, RunInstaller_MissingFilePrompts) {
  Make({Entry(100, L"a.bin"), Entry(200, L"b.bin")});
  window.fileErrResult = PromptResultAction;
  driver->RunInstaller();
  EXPECT_EQ(window.fileErrShown, 1);
  EXPECT_EQ(window.sent.back(), std::make_pair(kCmdOpenDir, 0));

  window = FakeWindow();
  Make({Entry(100, L"game.exe")});
  window.damagedResult = PromptResultAction;
  driver->RunInstaller();
  EXPECT_EQ(window.damagedShown, 1);
  EXPECT_EQ(reports.calls.back().action, kActionRedownload);
  EXPECT_EQ(window.sent.back(), std::make_pair(kCmdDownload, 0));
}

TEST_F(DriverTest, OpenSaveDir_SelectsThePartialDataFirst) {
  Make({Entry(100, L"game.exe")});
  disk.AddFile(L"D:\\games\\game.exe.P2P", 20);
  disk.AddFile(L"D:\\games\\game.exe", 20);
  driver->OpenSaveDir();
  EXPECT_EQ(window.selected, std::vector<std::wstring>{L"D:\\games\\game.exe.P2P"});

  driver->Progress().saveDir = L"Q:\\gone\\";
  driver->OpenSaveDir();
  EXPECT_EQ(window.dirOpenFailedShown, 1);
}


// The engine's record of a task: bytes from other players, bytes served.
TaskStatus Shared(uint64_t size, uint8_t state, uint64_t peerBytes, uint64_t servedBytes) {
  TaskStatus status{size, size, 0, 0, state};
  status.peerBytes = peerBytes;
  status.servedBytes = servedBytes;
  return status;
}

TEST_F(DriverTest, CompleteDownload_TellsEveryGameTasksBytesFromPlayersAndTheLatestServed) {
  Make({Entry(100, L"a.bin"), Entry(200, L"b.bin"), Entry(300, L"c.bin")});
  window.companionChecked = true;
  StartDownloading();
  // The companion's bytes from players are not the game's; what the engine
  // served, any task's record tells.
  engine.status[driver->CompanionTask()] = Shared(50, kTaskStateFinished, 1000, 5);
  engine.status[driver->GameTask()] = Shared(100, kTaskStateRunning, 4, 5);
  driver->OnPollTimer();
  FinishCurrentFile();
  engine.status[driver->GameTask()].peerBytes = 10;
  driver->OnPollTimer();

  // b.bin stalls: its first task's bytes stay counted after the restart.
  driver->OnDownloadCommand(kAutoContinueParam);
  engine.status[driver->GameTask()] = Shared(200, kTaskStateRunning, 20, 9);
  engine.status[driver->GameTask()].linkSpeed = 0;
  const int stalled = driver->GameTask();
  for (int i = 0; i < 91 && driver->GameTask() == stalled; ++i) driver->OnPollTimer();
  ASSERT_NE(driver->GameTask(), stalled);
  engine.status[driver->GameTask()] = Shared(200, kTaskStateRunning, 3, 12);
  driver->OnPollTimer();
  FinishCurrentFile();
  engine.status[driver->GameTask()].peerBytes = 3;
  driver->OnPollTimer();

  // c.bin from an engine whose record tells no served bytes: the count kept stays.
  driver->OnDownloadCommand(kAutoContinueParam);
  FinishCurrentFile();
  engine.status[driver->GameTask()].peerBytes = 30;
  driver->OnPollTimer();

  ASSERT_EQ(reports.Count(kActionCompleteDownload), 1);
  EXPECT_EQ(reports.calls.back().cg, 1);
  EXPECT_EQ(reports.calls.back().peers.received, 10u + 20u + 3u + 30u);
  EXPECT_EQ(reports.calls.back().peers.served, 12u);
}

TEST_F(DriverTest, CompleteDownload_FailuresTellTheBytesFromPlayersSoFar) {
  const struct {
    const char* name;
    uint8_t state;       // of the second file's task when it ends
    bool badMd5;
    int cwdm;
  } cases[] = {
      {"engine failed", kTaskStateFailedDownload, false, kFailDownload},
      {"engine found it damaged", kTaskStateFailedCheck, false, kFailCheck},
      {"file check failed", kTaskStateFinished, true, kFailCheck},
  };
  for (const auto& c : cases) {
    reports.calls.clear();
    Make({Entry(100, L"a.bin"), Entry(200, L"b.bin")});
    StartDownloading();
    FinishCurrentFile();
    engine.status[driver->GameTask()].peerBytes = 8;
    driver->OnPollTimer();
    driver->OnDownloadCommand(kAutoContinueParam);
    if (c.badMd5) disk.badMd5.insert(L"D:\\games\\b.bin");
    FinishCurrentFile();
    engine.status[driver->GameTask()] = Shared(200, c.state, 42, 77);
    driver->OnPollTimer();
    ASSERT_EQ(reports.Count(kActionCompleteDownload), 1) << c.name;
    EXPECT_EQ(reports.calls.back().cwdm, c.cwdm) << c.name;
    EXPECT_EQ(reports.calls.back().peers.received, 50u) << c.name;
    EXPECT_EQ(reports.calls.back().peers.served, 77u) << c.name;
    disk.badMd5.clear();
    for (const wchar_t* name : {L"D:\\games\\a.bin", L"D:\\games\\b.bin"}) disk.DeletePath(name);
  }
  // An engine that tells nothing of sharing: both figures are 0.
  reports.calls.clear();
  engine.status.clear();
  Make({Entry(100, L"a.bin")});
  StartDownloading();
  FinishCurrentFile();
  driver->OnPollTimer();
  ASSERT_EQ(reports.Count(kActionCompleteDownload), 1);
  EXPECT_EQ(reports.calls.back().peers.received, 0u);
  EXPECT_EQ(reports.calls.back().peers.served, 0u);
}

}  // namespace
