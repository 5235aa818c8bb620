#include "download/download_driver.h"

#include <algorithm>

#include "config/config_parse.h"
#include "contract/engine_contract.h"
#include "download/progress_text.h"
#include "stats/report_url.h"

std::wstring GameTaskLink(const GameFileEntry& item) {
  return engine_contract::BuildTaskLink(item.downloadLink, item.md5Text);
}

CDownloadDriver::CDownloadDriver(IDownloadEngine& engine, IDownloadWindow& window, IDownloadFiles& files,
                                 IDiskSystem& disk, IReportSink& reports, CResumeState& resume,
                                 DownloadSettings settings)
    : m_engine(engine),
      m_window(window),
      m_files(files),
      m_disk(disk),
      m_reports(reports),
      m_resume(resume),
      m_settings(std::move(settings)) {
  for (const GameFileEntry& entry : m_settings.fileList) {
    m_totalGameSize = entry.size > UINT64_MAX - m_totalGameSize ? UINT64_MAX : m_totalGameSize + entry.size;
    m_progress.pendingItems.push_back(entry);
  }
}

std::wstring CDownloadDriver::ItemPath(const GameFileEntry& item) const {
  return m_progress.saveDir + FileNameOfLink(item.downloadLink);
}

std::wstring CDownloadDriver::CompanionPath() const {
  return m_settings.tempDir + FileNameOfLink(m_settings.companionLink);
}

// -- engine driving -----------------------------------------------------------

void CDownloadDriver::StartEngine() {
  m_engine.Init();
  m_engine.SetSeedUrl(m_settings.seedUrl);
}

TaskStatus CDownloadDriver::QueryStatus(int task) {
  // -1 stands for "no such task"; the engine is not asked about it.
  if (task <= 0) return TaskStatus();
  return m_engine.QueryTask(task);
}

void CDownloadDriver::StartTask(int task) {
  if (task > 0) m_engine.StartTask(task);
}

void CDownloadDriver::StopTask(int task) {
  if (task > 0) m_engine.StopTask(task);
}

void CDownloadDriver::CreateGameTask(bool newDownload) {
  const GameFileEntry& item = m_progress.currentItem;
  if (newDownload) {
    m_gameTask = m_engine.CreateP2SPTask(m_window.NotifyWindow(), GameTaskLink(item), ItemPath(item));
  } else {
    m_gameTask = m_engine.CreateP2SPTask(nullptr, item.downloadLink, ItemPath(item));
  }
}

void CDownloadDriver::StartCompanion(void* notifyWindow) {
  if (m_settings.companionLink.empty()) {
    m_gardboxTask = -1;
    return;
  }
  const int task = m_engine.CreateP2SPTask(notifyWindow, m_settings.companionLink, CompanionPath());
  // A companion that cannot be made is no companion: the game must not wait
  // for a task that will never report.
  m_gardboxTask = task > 0 ? task : -1;
}

bool CDownloadDriver::CreateCompanionTask(void* notifyWindow) {
  if (m_window.IsCompanionMutexTaken()) return false;
  StartCompanion(notifyWindow);
  return m_gardboxTask > 0;
}

bool CDownloadDriver::CompanionWanted() { return m_window.IsCompanionChecked() && m_gardboxTask != -1; }

bool CDownloadDriver::CompanionActive() { return CompanionWanted() && m_gardboxFinished == 0; }

void CDownloadDriver::StartTasks() {
  StartTask(CompanionActive() ? m_gardboxTask : m_gameTask);
  m_window.SetTimer(kTimerPoll);
  m_window.SetMode(ModeDownloading);
}

void CDownloadDriver::StopTasks() {
  StopTask(m_gardboxTask);
  StopTask(m_gameTask);
  m_window.KillTimer(kTimerPoll);
  m_window.SetMode(ModePaused);
}

void CDownloadDriver::RecreateTasks() {
  if (CompanionActive()) {
    m_gardboxFinished = 0;
    StopTask(m_gardboxTask);
    StartCompanion(nullptr);
  }
  StopTask(m_gameTask);
  CreateGameTask(false);
}

void CDownloadDriver::CloseEngine() {
  StopTask(m_gardboxTask);
  StopTask(m_gameTask);
  m_window.KillTimer(kTimerPoll);
  m_engine.Uninit();
}

bool CDownloadDriver::BeginDownload() {
  m_stallCount = 0;
  m_restartCount = 0;
  m_gardboxIdle = 0;
  m_window.KillTimer(kTimerPoll);

  CreateGameTask(true);
  if (m_gameTask <= 0) return false;

  m_window.EnableCompanionCheckBox(false);
  bool companionStarted = false;
  if (m_window.IsCompanionChecked() && !m_window.IsCompanionMutexTaken()) {
    if (m_gardboxTask > 0) m_engine.RemoveTask(m_gardboxTask);
    StartCompanion(m_window.NotifyWindow());
    if (m_gardboxTask > 0) {
      StartTask(m_gardboxTask);
      companionStarted = true;
    }
  }
  // Without a companion to wait for (box cleared, or its download already
  // under way elsewhere) the game starts now, not after the first stall.
  if (!companionStarted) StartTask(m_gameTask);
  m_gardboxFinished = companionStarted ? 0 : 1;

  m_window.SetTimer(kTimerPoll);
  m_window.SetMode(ModeDownloading);
  return true;
}

int CDownloadDriver::GetGameProgressPercent() {
  const TaskStatus game = QueryStatus(m_gameTask);
  if (game.total == 0) return 0;
  return ProgressPercent(m_progress.completedBytes + game.downloaded, m_totalGameSize);
}

uint64_t CDownloadDriver::GetCompanionTotalSize() {
  // A game without a companion link has nothing to download for the box; a
  // remembered or default size would only make the total unreachable.
  if (!m_window.IsCompanionChecked() || m_settings.companionLink.empty()) return 0;
  const TaskStatus companion = QueryStatus(m_gardboxTask);
  return companion.total != 0 ? companion.total : m_resume.LoadGardboxSize();
}

uint64_t CDownloadDriver::GetCompanionDoneSize() {
  if (!m_window.IsCompanionChecked() || m_settings.companionLink.empty()) return 0;
  const TaskStatus companion = QueryStatus(m_gardboxTask);
  if (companion.downloaded != 0) return companion.downloaded;
  const std::wstring path = CompanionPath();
  if (!FileNameOfLink(m_settings.companionLink).empty() && m_files.PathExists(path)) return m_files.FileSize(path);
  return 0;
}

PollDisplay CDownloadDriver::OnPollTimer() {
  PollDisplay display;
  const TaskStatus game = QueryStatus(m_gameTask);
  TaskStatus companion = QueryStatus(m_gardboxTask);

  bool itemEnded = false;
  if (game.state != kTaskStateRunning || m_restartCount > kMaxRestarts) {
    m_gameEverFinished = true;
    m_progress.completedBytes += game.downloaded;
    const FinishResult result = OnGameTaskFinished(game.state);
    // While the finished file is awaited the item stays current and its
    // mutex held, so that the next file cannot start before this one is known
    // to be good.
    if (result == FinishWaiting) return display;
    EndItem(result);
    if (result == FinishStop) return display;
    itemEnded = true;
  }

  if (CompanionActive()) {
    companion = QueryStatus(m_gardboxTask);
    m_gardboxIdle = companion.Speed() == 0 ? m_gardboxIdle + 1 : 0;
    m_gardboxFinished = m_gardboxIdle > kCompanionIdlePolls ? 1 : (companion.state != kTaskStateRunning ? 1 : 0);
    if (m_gardboxFinished) {
      StopTask(m_gardboxTask);
      if (companion.state == kTaskStateFinished) m_window.RunCompanionInstaller(CompanionPath());
      StartTask(m_gameTask);
    }
  }

  const uint64_t gameDone = itemEnded ? 0 : game.downloaded;
  if (CompanionWanted()) {
    const uint64_t companionTotal = companion.total != 0 ? companion.total : m_resume.LoadGardboxSize();
    display.total = m_totalGameSize + companionTotal;
    display.done = m_progress.completedBytes + gameDone + (m_gardboxFinished ? companionTotal : companion.downloaded);
    display.speed = game.Speed() + companion.Speed();
    // A size of 0 only means "not known yet"; it must not wipe the one kept.
    if (!m_gardboxFinished && companion.total != 0) m_resume.SaveGardboxSize(companion.total);
  } else {
    display.total = m_totalGameSize;
    display.done = m_progress.completedBytes + gameDone;
    display.speed = game.Speed();
  }
  display.percent = ProgressPercent(display.done, display.total);

  if (itemEnded) {
    // The ended task's zero speed is no stall, and being offline now must
    // not revive a task that has already been handed on.
    m_stallCount = 0;
    m_restartCount = 0;
  } else {
    ApplyStallRule(display.speed);
  }

  if (m_progress.pendingItems.empty()) display.speed = 0;
  m_window.SetSpeedText(SpeedText(display.speed));
  m_window.SetProgress(display.percent);
  ShowSizes(display.done, display.total);
  return display;
}

void CDownloadDriver::ApplyStallRule(uint64_t speed) {
  if (speed != 0) {
    m_stallCount = 0;
    m_restartCount = 0;
    return;
  }
  if (!m_window.IsInternetConnected()) {
    if (m_gardboxTask > 0 && !m_gardboxFinished) m_engine.StopTask(m_gardboxTask);
    if (m_gameTask > 0) m_engine.StopTask(m_gameTask);
    m_window.SetTimer(kTimerReconnect);
    m_window.KillTimer(kTimerPoll);
    return;
  }
  if (++m_stallCount <= kStallPolls) return;
  m_stallCount = 0;
  ++m_restartCount;
  if (m_restartCount <= kMaxRestarts) {
    StopTasks();
    RecreateTasks();
    StartTasks();
    return;
  }
  StopTasks();
  m_restartCount = 0;
  m_window.KillTimer(kTimerPoll);
  m_reports.Report(kActionCompleteDownload, kEventCompleteDownload, 0, 0, kFailStalled);
  // The item is over as surely as after an engine failure; a mutex left held
  // here would keep the next run of the list from ever moving past file one.
  m_window.ReleaseItemMutex();
  ShowDownloadFailed();
}

void CDownloadDriver::OnReconnectTimer() {
  if (!m_window.IsInternetConnected()) return;
  if (m_progress.currentItem.downloadLink.empty() && !m_progress.pendingItems.empty()) {
    m_progress.currentItem = m_progress.pendingItems.front();
  }
  RecreateTasks();
  StartTasks();
  m_window.KillTimer(kTimerReconnect);
}

void CDownloadDriver::OnFileWaitTimer() {
  ++m_fileWaitTicks;
  const std::wstring path = ItemPath(m_progress.currentItem);
  if (m_files.PathExists(path)) {
    m_window.KillTimer(kTimerFileWait);
    m_fileWaitTicks = 0;
    EndItem(OnFileReady(path) ? FinishDone : FinishStop);
    return;
  }
  if (m_fileWaitTicks < kFileWaitTicks) return;
  m_window.KillTimer(kTimerFileWait);
  m_fileWaitTicks = 0;
  m_engine.RemoveTask(m_gameTask);
  m_reports.Report(kActionCompleteDownload, kEventCompleteDownload, 0, 0, kFailCheck);
  m_window.ReleaseItemMutex();
  ShowDownloadFailed();
}

void CDownloadDriver::EndItem(FinishResult result) {
  if (result == FinishStop) {
    m_window.ReleaseItemMutex();
    return;
  }
  if (!m_progress.pendingItems.empty()) m_progress.pendingItems.pop_front();
  m_window.ReleaseItemMutex();
  if (m_progress.pendingItems.empty()) {
    m_reports.Report(kActionCompleteDownload, kEventCompleteDownload, 0, 1, -1);
  }
}

// -- window start-up and commands ---------------------------------------------

void CDownloadDriver::ShowSizes(uint64_t done, uint64_t total) { m_window.SetSizesText(SizesText(done, total)); }

void CDownloadDriver::RefreshProgress() {
  const TaskStatus game = QueryStatus(m_gameTask);
  uint64_t done = game.downloaded;
  uint64_t total = m_totalGameSize;
  if (m_window.IsCompanionChecked()) {
    total += GetCompanionTotalSize();
    done += GetCompanionDoneSize();
  }
  if (total == 0) {
    ShowSizes(0, 0);
    m_window.SetProgress(0);
    return;
  }
  uint64_t base = 0;
  if (m_settings.fileList.size() != 1) {
    base = m_progress.completedBytes;
    if (m_gameEverFinished && m_progress.pendingItems.size() == 1) {
      ShowSizes(base, total);
      m_window.SetProgress(GetGameProgressPercent());
      return;
    }
  }
  ShowSizes(base + done, total);
  m_window.SetProgress(GetGameProgressPercent());
}

void CDownloadDriver::OnStartup(int resumeCode) {
  switch (resumeCode) {
    case ResumeNone: {
      m_resume.ResetResumeFile();
      const std::wstring firstName = m_progress.pendingItems.empty()
                                         ? std::wstring()
                                         : FileNameOfLink(m_progress.pendingItems.front().downloadLink);
      m_progress.saveDir = ProposeDefaultDir(m_disk, m_totalGameSize, firstName);
      m_window.ShowSaveDir(m_progress.saveDir, false);
      RefreshProgress();
      break;
    }
    case ResumePartial:
      m_window.ShowSaveDir(m_progress.saveDir, true);
      m_window.SetCompanionChecked(m_resume.LoadInstallGardbox(m_window.IsCompanionChecked()));
      m_window.EnableCompanionCheckBox(false);
      CreateGameTask(false);
      if (m_window.IsCompanionChecked()) CreateCompanionTask(nullptr);
      StopTasks();
      m_window.SetSpeedText(SpeedText(0));
      m_window.SetMode(ModePaused);
      RefreshProgress();
      break;
    case ResumeComplete: {
      m_window.ShowSaveDir(m_progress.saveDir, true);
      m_window.EnableCompanionCheckBox(false);
      const uint64_t total = m_totalGameSize + GetCompanionTotalSize();
      ShowSizes(total, total);
      m_window.SetProgress(100);
      m_window.SetMode(ModeFinished);
      break;
    }
    case ResumeSomeComplete:
      m_someItemsDone = true;
      m_window.SetProgress(ProgressPercent(m_progress.completedBytes, m_totalGameSize));
      ShowSizes(m_progress.completedBytes, m_totalGameSize);
      if (!m_progress.pendingItems.empty()) m_progress.currentItem = m_progress.pendingItems.front();
      m_window.SetCompanionChecked(m_resume.LoadInstallGardbox(m_window.IsCompanionChecked()));
      m_window.ShowSaveDir(m_progress.saveDir, true);
      m_window.SetMode(ModePaused);
      break;
    default:
      m_resume.ResetResumeFile();
      break;
  }
}

void CDownloadDriver::OnDownloadCommand(int lParam) {
  // Without an engine nothing can be downloaded; say so instead of failing
  // quietly later.
  if (!m_engine.IsLoaded()) {
    ShowDownloadFailed();
    return;
  }
  if (lParam != kAutoContinueParam) {
    m_progress.pendingItems.assign(m_settings.fileList.begin(), m_settings.fileList.end());
  }
  if (!StartDownloadFlow()) return;
  if (!m_window.IsAutoThreadRunning()) {
    m_reports.Report(kActionStartDownload, kEventStartDownload, m_window.IsCompanionChecked() ? 1 : 0, 0, 0);
    m_window.StartAutoThread();
  }
}

void CDownloadDriver::OnContinueCommand() {
  m_reports.Report(kActionRestartDownload, L"RestartDownload", 0, 0, 0);
  if (!m_engine.IsLoaded()) {
    ShowDownloadFailed();
    return;
  }
  const std::wstring path = ItemPath(m_progress.currentItem);
  if (!m_progress.currentItem.downloadLink.empty() && m_files.PathExists(path)) {
    if (!m_progress.pendingItems.empty()) m_progress.currentItem = m_progress.pendingItems.front();
    RecreateTasks();
    StartTasks();
    return;
  }
  if (!m_progress.currentItem.downloadLink.empty() && m_files.PathExists(path + L".P2P")) {
    StartTasks();
    m_window.SetMode(ModeDownloading);
    if (!m_window.IsAutoThreadRunning()) {
      if (!m_window.WaitItemMutex()) return;
      m_window.StartAutoThread();
    }
    return;
  }
  if (m_someItemsDone) {
    if (!m_progress.pendingItems.empty() && StartDownloadFlow() && !m_window.IsAutoThreadRunning()) {
      m_window.StartAutoThread();
    }
    return;
  }
  if (m_window.ShowFileDamagedPrompt() == kPromptConfirm) RestartFromScratch();
}

void CDownloadDriver::OnPauseCommand() {
  StopTasks();
  m_window.SetSpeedText(SpeedText(0));
  m_window.SetMode(ModePaused);
  m_reports.Report(kActionPauseDownload, L"PauseDownload", 0, 0, 0);
}

void CDownloadDriver::OnCompanionToggled() {
  RefreshProgress();
  m_resume.SaveInstallGardbox(m_window.IsCompanionChecked() ? 1 : 0);
}

// -- save directory -----------------------------------------------------------

int CDownloadDriver::StartDownloadFlow() {
  if (m_progress.pendingItems.empty()) return 0;
  m_someItemsDone = false;
  if (!m_window.WaitItemMutex()) return 0;

  m_resume.SaveInstallGardbox(m_window.IsCompanionChecked() ? 1 : 0);
  m_progress.currentItem = m_progress.pendingItems.front();
  const GameFileEntry item = m_progress.currentItem;
  const std::wstring name = FileNameOfLink(item.downloadLink);

  uint64_t largest = 0;
  for (const GameFileEntry& entry : m_settings.fileList) largest = std::max(largest, entry.size);

  std::wstring dir = m_progress.saveDir;
  // With nothing proposed there is nothing to test: ask first.
  bool browse = dir.empty();
  for (;;) {
    if (browse && !m_window.BrowseForDir(&dir)) {
      m_window.SetMode(ModeReady);
      m_window.ReleaseItemMutex();
      return 0;
    }
    browse = true;
    const uint64_t needed =
        m_totalGameSize > m_progress.completedBytes ? m_totalGameSize - m_progress.completedBytes : 0;
    const DirCheck check = CheckSaveDir(m_disk, dir, largest, needed, name, name);
    if (check == DirCheck::Accepted) break;
    if (m_window.ShowDirError(DirCheckMessage(check)) != kPromptConfirm) {
      m_window.SetMode(ModeReady);
      m_window.ReleaseItemMutex();
      return 0;
    }
  }

  m_progress.saveDir = WithTrailingBackslash(dir);
  m_window.ShowSaveDir(m_progress.saveDir, true);

  const std::wstring path = m_progress.saveDir + name;
  bool alreadyThere = false;
  if (m_settings.safecheck != L"0" && m_files.PathExists(path)) {
    alreadyThere = m_files.IsFileComplete(path, item.size) && m_files.VerifyFileMd5(path, item.md5Text);
  }
  m_resume.SaveDownloadDir(m_progress.saveDir);

  if (alreadyThere) {
    // The file counts as downloaded: the list moves on to the next one (or
    // ends here), rather than waiting forever for a task that never runs.
    m_progress.completedBytes += item.size;
    m_progress.pendingItems.pop_front();
    m_window.ReleaseItemMutex();
    if (m_progress.pendingItems.empty()) {
      const uint64_t total = m_totalGameSize + GetCompanionTotalSize();
      m_window.SetMode(ModeFinished);
      m_window.SetProgress(100);
      ShowSizes(total, total);
    } else {
      RefreshProgress();
    }
    return 1;
  }

  if (!BeginDownload()) {
    m_window.ReleaseItemMutex();
    ShowDownloadFailed();
    return 0;
  }
  return 1;
}

void CDownloadDriver::ChangeSaveDir() {
  const std::wstring frontName =
      m_progress.pendingItems.empty() ? std::wstring() : FileNameOfLink(m_progress.pendingItems.front().downloadLink);
  for (;;) {
    std::wstring dir;
    if (!m_window.BrowseForDir(&dir)) return;
    const DirCheck check = CheckSaveDir(m_disk, dir, m_totalGameSize, m_totalGameSize, frontName, frontName);
    if (check == DirCheck::Accepted) {
      m_progress.saveDir = WithTrailingBackslash(dir);
      m_window.ShowSaveDir(m_progress.saveDir, false);
      break;
    }
    if (m_window.ShowDirError(DirCheckMessage(check)) != kPromptConfirm) return;
  }
  if (m_settings.fileList.size() > 1) DeleteAllIfAnyMissing(m_resume, m_files, m_settings.fileList, m_progress);
}

// -- completion -----------------------------------------------------------------

CDownloadDriver::FinishResult CDownloadDriver::OnGameTaskFinished(uint8_t state) {
  m_window.KillTimer(kTimerPoll);
  m_window.SetSpeedText(SpeedText(0));
  if (state == kTaskStateFinished) {
    const std::wstring path = ItemPath(m_progress.currentItem);
    if (m_files.PathExists(path)) return OnFileReady(path) ? FinishDone : FinishStop;
    m_fileWaitTicks = 0;
    m_window.SetTimer(kTimerFileWait);
    return FinishWaiting;
  }
  m_window.SetMode(ModeDownloading);
  if (state == kTaskStateFailedDownload) {
    m_reports.Report(kActionCompleteDownload, kEventCompleteDownload, 0, 0, kFailDownload);
  } else if (state == kTaskStateFailedCheck) {
    m_reports.Report(kActionCompleteDownload, kEventCompleteDownload, 0, 0, kFailCheck);
  }
  ShowDownloadFailed();
  return FinishStop;
}

int CDownloadDriver::OnFileReady(const std::wstring& path) {
  const bool last = m_progress.pendingItems.size() == 1;
  if (last) m_window.SetProgress(100);
  const GameFileEntry& item = m_progress.currentItem;
  bool good = m_files.IsFileComplete(path, item.size);
  if (good && m_settings.safecheck == L"1") good = m_files.VerifyFileMd5(path, item.md5Text);

  if (!good) {
    m_engine.RemoveTask(m_gameTask);
    ShowFileCheckFailed();
    return 0;
  }
  if (!last) {
    RefreshProgress();
    m_engine.RemoveTask(m_gameTask);
    return 1;
  }
  RefreshProgress();
  m_window.SetMode(ModeFinished);
  m_window.SendCommand(kCmdActivate, 0);
  m_engine.RemoveTask(m_gameTask);
  if (m_window.ShowInstallPrompt() == kPromptConfirm) m_window.PostCommand(kCmdInstall);
  // The stop closes the download-time span of this task.
  StopTask(m_gameTask);
  m_window.SetMode(ModeFinished);
  return 1;
}

void CDownloadDriver::ShowFileCheckFailed() {
  m_reports.Report(kActionCompleteDownload, kEventCompleteDownload, 0, 0, kFailCheck);
  const size_t pending = m_progress.pendingItems.size();
  const int result = m_window.ShowFileCheckFailedPrompt(pending >= 2);
  if (result == kPromptConfirm) {
    m_window.StopAutoThread();
    if (m_settings.fileList.size() < 2 || pending < 2) {
      m_window.SetMode(ModeFinished);
      m_window.SendCommand(kCmdOpenDir, 0);
    } else {
      m_window.SendCommand(kCmdRedownload, 0);
    }
  } else if (result == kPromptFeedback) {
    m_window.StopAutoThread();
  } else {
    m_window.SetMode(pending == 1 ? ModeFinished : ModeRestart);
    m_window.StopAutoThread();
  }
}

void CDownloadDriver::ShowDownloadFailed() {
  const int result = m_window.ShowDownloadFailedPrompt();
  m_window.SetMode(ModeRestart);
  m_window.StopAutoThread();
  if (result == kPromptConfirm) m_window.SendCommand(kCmdFeedback, 0);
}

void CDownloadDriver::RunInstaller() {
  const std::vector<GameFileEntry>& list = m_settings.fileList;
  if (list.empty()) return;
  const bool several = list.size() > 1;
  const std::wstring name = several ? m_settings.gameStart : FileNameOfLink(list.front().downloadLink);
  const std::wstring target = m_progress.saveDir + name;
  // An empty name would "run" the directory itself.
  if (!name.empty() && !m_progress.saveDir.empty() && m_files.PathExists(target)) {
    m_window.ShellOpen(target);
    return;
  }
  if (several) {
    if (m_window.ShowFileErrPrompt() == kPromptConfirm) m_window.SendCommand(kCmdOpenDir, 0);
    return;
  }
  if (m_window.ShowFileDamagedPrompt() == kPromptConfirm) RestartFromScratch();
}

void CDownloadDriver::RestartFromScratch() {
  m_reports.Report(kActionRedownload, L"", 0, 0, 0);
  if (m_gameTask > 0) m_engine.RemoveTask(m_gameTask);
  m_window.StopAutoThread();
  Redownload();
}

void CDownloadDriver::OpenSaveDir() {
  const std::wstring& dir = m_progress.saveDir;
  if (dir.empty() || !m_files.PathExists(dir)) {
    m_window.ShowDirOpenFailedPrompt();
    return;
  }
  const std::wstring name =
      m_progress.pendingItems.empty() ? std::wstring() : FileNameOfLink(m_progress.pendingItems.front().downloadLink);
  if (!name.empty()) {
    if (m_files.PathExists(dir + name + L".P2P")) {
      m_window.OpenFolderAndSelect(dir + name + L".P2P");
      return;
    }
    if (m_files.PathExists(dir + name)) {
      m_window.OpenFolderAndSelect(dir + name);
      return;
    }
  }
  m_window.ShellOpen(dir);
}

void CDownloadDriver::Redownload() {
  m_progress.pendingItems.assign(m_settings.fileList.begin(), m_settings.fileList.end());
  m_progress.completedBytes = 0;
  m_window.SetProgress(0);
  if (!m_progress.saveDir.empty()) {
    for (const GameFileEntry& entry : m_settings.fileList) {
      const std::wstring path = m_progress.saveDir + FileNameOfLink(entry.downloadLink);
      if (m_files.PathExists(path)) m_files.DeletePath(path);
      // From scratch means from scratch: kept partial data would be resumed,
      // and a damaged download would be damaged again.
      if (m_files.PathExists(path + L".P2P")) m_files.DeletePath(path + L".P2P");
    }
  }
  m_window.ForgetAutoThread();
  m_window.SendCommand(kCmdDownload, 0);
}
