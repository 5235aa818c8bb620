// Orders of clicks and failures that used to stall the list, flood the
// screen with prompts, run two tasks on one file or lose downloaded data.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "download/download_driver.h"
#include "download/progress_text.h"
#include "download/save_dir_rules.h"
#include "flow_fakes.h"

namespace {

constexpr wchar_t kDir[] = L"D:\\games\\";
constexpr wchar_t kMd5[] = L"0123456789abcdef0123456789abcdef";

GameFileEntry Entry(uint64_t size, const std::wstring& name) {
  return GameFileEntry{size, L"http://dl.example.invalid/game/" + name, kMd5};
}

class FlowTest : public ::testing::Test {
 protected:
  void Make(int files, const std::wstring& safecheck = L"1") {
    DownloadSettings settings;
    for (int i = 0; i < files; ++i) settings.fileList.push_back(Entry(1000, std::wstring(1, L'a' + i) + L".bin"));
    settings.safecheck = safecheck;
    settings.gameStart = L"a.bin";
    settings.companionLink = L"http://dl.example.invalid/gardbox_setup.exe";
    settings.tempDir = L"C:\\temp\\";
    disk.fileSystems[L"D:\\"] = L"NTFS";
    disk.freeBytes[L"D:\\"] = 1ull << 40;
    disk.paths.insert(L"D:\\games");
    engine.disk = &disk;
    driver = std::make_unique<CDownloadDriver>(engine, window, disk, disk, reports, resume, settings);
    driver->Progress().saveDir = kDir;
    window.driver = driver.get();
  }
  std::wstring Path(const std::wstring& name) const { return kDir + name; }
  std::wstring CurrentPath() const {
    const std::wstring& link = driver->Progress().currentItem.downloadLink;
    return kDir + link.substr(link.rfind(L'/') + 1);
  }
  void Game(uint64_t done, uint32_t speed, uint8_t state = 0) {
    engine.status[driver->GameTask()] = TaskStatus{1000, done, speed, 0, state};
  }
  // The engine completes the current file: the side file becomes the file.
  void EngineFinishes(bool rename = true) {
    if (rename) {
      disk.paths.erase(CurrentPath() + L".P2P");
      disk.AddFile(CurrentPath(), 1000);
    }
    Game(1000, 0, kTaskStateFinished);
  }
  void Stall(int polls) {
    Game(900, 0);
    for (int i = 0; i < polls; ++i) driver->OnPollTimer();
  }
  bool Created(const std::wstring& name) const {
    for (const auto& c : engine.created) {
      if (c.path == Path(name)) return true;
    }
    return false;
  }

  FakeEngine engine;
  LiveWindow window;
  FakeDisk disk;
  FakeReports reports;
  FakeStore store;
  CResumeState resume{store};
  std::unique_ptr<CDownloadDriver> driver;
};

TEST_F(FlowTest, PauseDuringTheCompanionThenContinueDownloadsTheGame) {
  Make(3);
  window.companionChecked = true;
  driver->OnDownloadCommand(0);
  const int companion = driver->CompanionTask();
  engine.status[companion] = TaskStatus{300, 100, 50, 0, 0};
  driver->OnPollTimer();
  driver->OnPauseCommand();
  driver->OnContinueCommand();
  EXPECT_EQ(window.damagedShown, 0) << "no side file yet is no damage";
  EXPECT_EQ(engine.started.back(), companion);
  EXPECT_EQ(window.mutexHeld, 1);

  engine.status[companion] = TaskStatus{300, 300, 0, 0, kTaskStateFinished};
  driver->OnPollTimer();
  EngineFinishes();
  driver->OnPollTimer();
  EXPECT_EQ(window.mutexHeld, 0);
  window.RunThread();
  EXPECT_TRUE(Created(L"b.bin")) << "file 2 starts";
  EXPECT_EQ(reports.Count(kActionRedownload), 0);
}

// After the fourth stall or the wait for a finished file, nothing starts
// behind the failure prompt, and 重新下载 leaves one task per file.
TEST_F(FlowTest, FailurePromptHasNothingRunningBehindIt) {
  for (const bool stall : {true, false}) {
    SCOPED_TRACE(stall ? "fourth stall" : "finished file never appears");
    engine = FakeEngine();
    window = LiveWindow();
    disk = FakeDisk();
    Make(2);
    driver->OnDownloadCommand(0);
    if (stall) {
      for (int i = 0; i < 4; ++i) Stall(91);
    } else {
      EngineFinishes(false);
      driver->OnPollTimer();
      for (int i = 0; i < kFileWaitTicks; ++i) driver->OnFileWaitTimer();
    }
    ASSERT_EQ(window.downloadFailedShown, 1);
    EXPECT_EQ(window.threadCommands, 0) << "the thread was stopped before the mutex was let go";
    EXPECT_EQ(window.timers.count(kTimerPoll), 0u);
    const size_t tasks = engine.created.size();
    EXPECT_FALSE(window.IsAutoThreadRunning());

    driver->Redownload();
    EXPECT_EQ(engine.created.size(), tasks + 1);
    EXPECT_EQ(engine.maxRunsPerTarget, 1);
    EXPECT_EQ(window.mutexHeld, 1);
    EXPECT_EQ(window.badReleases, 0);
  }
}

// A folder that fails its checks for file 2: one prompt, whatever the answer,
// and 继续 goes on once the folder is usable again.
TEST_F(FlowTest, RefusedFolderForALaterFileStopsTheListOnce) {
  for (const int result : {0, 1, static_cast<int>(PromptResultAction)}) {
    SCOPED_TRACE(result);
    engine = FakeEngine();
    window = LiveWindow();
    disk = FakeDisk();
    Make(2);
    driver->OnDownloadCommand(0);
    EngineFinishes();
    driver->OnPollTimer();
    disk.readOnly.insert(L"D:\\");
    window.dirErrorResult = result;  // confirm: the folder dialog is cancelled
    window.RunThread(200);
    EXPECT_EQ(window.dirErrors.size(), 1u);
    EXPECT_EQ(window.mode, ModePaused);
    EXPECT_EQ(window.mutexHeld, 0);
    EXPECT_FALSE(window.IsAutoThreadRunning());

    disk.readOnly.clear();
    driver->OnContinueCommand();
    EXPECT_TRUE(Created(L"b.bin"));
    EXPECT_EQ(window.mutexHeld, 1);
    EXPECT_TRUE(window.IsAutoThreadRunning());
  }
}

TEST_F(FlowTest, RedownloadKeepsTheEnginesPartialData) {
  for (const bool stall : {true, false}) {
    SCOPED_TRACE(stall ? "fourth stall" : "network failure");
    engine = FakeEngine();
    window = LiveWindow();
    disk = FakeDisk();
    Make(1);
    driver->OnDownloadCommand(0);
    ASSERT_TRUE(disk.paths.count(Path(L"a.bin.P2P")));
    if (stall) {
      for (int i = 0; i < 4; ++i) Stall(91);
    } else {
      Game(900, 0, kTaskStateFailedDownload);
      driver->OnPollTimer();
    }
    const uint64_t kept = disk.sizes[Path(L"a.bin.P2P")] = 900;
    driver->Redownload();
    EXPECT_EQ(disk.sizes[Path(L"a.bin.P2P")], kept) << "the new task resumes from it";
    EXPECT_EQ(std::count(disk.deleted.begin(), disk.deleted.end(), Path(L"a.bin.P2P")), 0);
  }
}

TEST_F(FlowTest, PauseDataGoneContinueRedownloadTakesTheMutexOnce) {
  Make(2);
  driver->OnDownloadCommand(0);
  Game(500, 100);
  driver->OnPollTimer();
  driver->OnPauseCommand();
  disk.paths.erase(Path(L"a.bin.P2P"));
  window.damagedResult = PromptResultAction;
  driver->OnContinueCommand();
  EXPECT_EQ(window.damagedShown, 1);
  EXPECT_EQ(window.mutexHeld, 1);
  EngineFinishes();
  driver->OnPollTimer();
  EXPECT_EQ(window.mutexHeld, 0);
  window.RunThread();
  EXPECT_TRUE(Created(L"b.bin"));
}

TEST_F(FlowTest, ContinueOnACompleteFileKeepsTheListGoing) {
  Make(2, L"0");
  driver->Progress().currentItem = Entry(1000, L"a.bin");
  disk.AddFile(Path(L"a.bin"), 1000);
  driver->OnStartup(ResumePartial);
  driver->OnContinueCommand();
  EXPECT_EQ(window.mutexHeld, 1);
  EXPECT_TRUE(window.IsAutoThreadRunning());
  Game(1000, 0, kTaskStateFinished);
  driver->OnPollTimer();
  EXPECT_EQ(window.mutexHeld, 0);
  window.RunThread();
  EXPECT_TRUE(Created(L"b.bin"));
}

TEST_F(FlowTest, PauseDuringTheWaitForAFinishedFileEndsItOnce) {
  Make(3);
  driver->OnDownloadCommand(0);
  EngineFinishes(false);
  driver->OnPollTimer();
  ASSERT_TRUE(window.timers.count(kTimerFileWait));
  driver->OnPauseCommand();
  driver->OnContinueCommand();
  EngineFinishes();
  driver->OnPollTimer();
  for (int i = 0; i < 3 && window.timers.count(kTimerFileWait); ++i) driver->OnFileWaitTimer();
  EXPECT_EQ(driver->Progress().pendingItems.size(), 2u);
  EXPECT_EQ(window.badReleases, 0);
  EXPECT_EQ(window.timers.count(kTimerFileWait), 0u);
}

// The engine renamed the file between two polls, and the stop of a pause or
// of the way offline came too late. Made again, the task would start a side
// file beside the finished file and fetch it all once more; a kill or an
// absent server then left that side file there for good.
TEST_F(FlowTest, FileThatEndedUnseenIsCheckedNotFetchedAgain) {
  for (const bool offline : {false, true}) {
    SCOPED_TRACE(offline ? "offline, then back online" : "pause, then continue");
    engine = FakeEngine();
    window = LiveWindow();
    disk = FakeDisk();
    Make(3);
    driver->OnDownloadCommand(0);
    if (offline) {
      window.online = false;
      Stall(1);
      ASSERT_TRUE(window.timers.count(kTimerReconnect));
    }
    EngineFinishes();
    if (offline) {
      window.online = true;
      driver->OnReconnectTimer();
    } else {
      driver->OnPauseCommand();
      driver->OnContinueCommand();
    }
    EXPECT_FALSE(disk.paths.count(Path(L"a.bin.P2P"))) << "a side file beside the finished file";
    driver->OnPollTimer();
    EXPECT_EQ(driver->Progress().pendingItems.size(), 2u) << "the finished file ends its item";
    EXPECT_EQ(std::count_if(engine.created.begin(), engine.created.end(),
                            [this](const FakeEngine::Creation& c) { return c.path == Path(L"a.bin"); }),
              1);
    window.RunThread();
    EXPECT_TRUE(Created(L"b.bin"));
  }
}

TEST_F(FlowTest, NoNextFileCommandRunsAfterTheEngineIsClosed) {
  Make(2);
  driver->OnDownloadCommand(0);
  EngineFinishes();
  driver->OnPollTimer();
  window.ThreadStep();  // the thread is sending its command
  driver->CloseEngine();
  window.RunThread();
  EXPECT_EQ(engine.callsAfterUninit, 0);
}

TEST_F(FlowTest, PauseWhileOfflineHolds) {
  Make(1);
  driver->OnDownloadCommand(0);
  window.online = false;
  Stall(1);
  ASSERT_TRUE(window.timers.count(kTimerReconnect));
  driver->OnPauseCommand();
  window.online = true;
  const size_t started = engine.started.size();
  if (window.timers.count(kTimerReconnect)) driver->OnReconnectTimer();
  EXPECT_EQ(engine.started.size(), started);
  EXPECT_EQ(window.mode, ModePaused);
}

TEST_F(FlowTest, TaskMadeAgainBeforeItsFirstRecordKeepsItsMd5Text) {
  Make(1);
  window.companionChecked = true;  // the game task waits: no record yet
  driver->OnDownloadCommand(0);
  ASSERT_FALSE(disk.paths.count(Path(L"a.bin.P2P")));
  engine.status[driver->CompanionTask()] = TaskStatus{300, 100, 0, 0, 0};
  window.online = false;
  driver->OnPollTimer();
  window.online = true;
  driver->OnReconnectTimer();
  EXPECT_EQ(engine.H1Of(driver->GameTask()), kMd5);
}

TEST_F(FlowTest, EveryFinishedTaskClosesItsDownloadTime) {
  Make(3);
  driver->OnDownloadCommand(0);
  for (int file = 0; file < 3; ++file) {
    window.RunThread();
    Game(500, 100);
    driver->OnPollTimer();
    EngineFinishes();
    driver->OnPollTimer();
  }
  ASSERT_EQ(window.installShown, 1);
  EXPECT_EQ(engine.lostSpans, 0);
  EXPECT_EQ(engine.closedSpans, 3);
}

TEST_F(FlowTest, CompanionWithoutASizeCountsNothing) {
  Make(1);
  window.companionChecked = true;
  driver->OnDownloadCommand(0);
  engine.status[driver->CompanionTask()] = TaskStatus{};
  for (int i = 0; i <= kCompanionIdlePolls; ++i) driver->OnPollTimer();
  ASSERT_TRUE(driver->CompanionFinished());
  Game(250, 10);
  const PollDisplay shown = driver->OnPollTimer();
  EXPECT_EQ(shown.total, 1000u);
  EXPECT_EQ(shown.done, 250u);
}

// Found by the explorer: 重新下载 deletes finished file 1 but keeps file 2's
// side file; the next run resumes file 2 first.
TEST_F(FlowTest, ResumeOfALaterFileStillFetchesTheMissingEarlierOne) {
  Make(2);
  disk.AddFile(Path(L"b.bin.P2P"), 500);
  driver->Progress().currentItem = Entry(1000, L"b.bin");
  driver->OnStartup(ResumePartial);
  driver->OnContinueCommand();
  EngineFinishes();
  driver->OnPollTimer();
  window.RunThread();
  ASSERT_TRUE(Created(L"a.bin"));
  EngineFinishes();
  driver->OnPollTimer();
  EXPECT_EQ(window.installShown, 1);
  EXPECT_TRUE(disk.paths.count(Path(L"a.bin")));
}

TEST(QuietDrivesTest, DriveProbesRunWithTheSystemDialogsOff) {
  FakeDisk disk;
  disk.drives = 0x1C;  // C: D: E:, E: an empty card reader
  disk.fileSystems[L"C:\\"] = L"NTFS";
  disk.freeBytes[L"C:\\"] = 1ull << 40;
  disk.fileSystems[L"D:\\"] = L"NTFS";
  disk.freeBytes[L"D:\\"] = 1ull << 41;
  EXPECT_EQ(ProposeDefaultDir(disk, 5ull << 32, L"a.bin"), L"D:\\download\\");
  EXPECT_EQ(CheckSaveDir(disk, L"D:\\download\\", 5ull << 32, 5ull << 32, L"a.bin", L"a.bin"), DirCheck::Accepted);
  EXPECT_EQ(disk.loudProbes, 0);
  EXPECT_EQ(disk.quietDepth, 0) << "and back on afterwards";
}

}  // namespace
