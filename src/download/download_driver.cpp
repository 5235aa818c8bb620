#include "download/download_driver.h"

#include <algorithm>

#include "config/config_parse.h"
#include "contract/engine_contract.h"
#include "download/progress_text.h"
#include "stats/report_url.h"

std::wstring GameTaskLink(const GameFileEntry& item) {
  return engine_contract::BuildTaskLink(item.downloadLink, item.md5Text);
}

CDownloadDriver::CDownloadDriver(IDownloadEngine& engine, IDownloadView& view, IDownloadPrompts& prompts,
                                 IDownloadHost& host, IDownloadFiles& files, IDiskSystem& disk, IReportSink& reports,
                                 CResumeState& resume, DownloadSettings settings)
    : m_engine(engine),
      m_view(view),
      m_prompts(prompts),
      m_host(host),
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
  // Files held for a new start are read for their good pieces, then go.
  m_engine.DiscardOldTargets();
}

TaskStatus CDownloadDriver::QueryStatus(int task) {
  // -1 stands for "no such task"; the engine is not asked about it.
  if (task <= 0) return TaskStatus();
  const TaskStatus status = m_engine.QueryTask(task);
  // A task the engine no longer knows reads as zeros.
  m_servedBytes = std::max(m_servedBytes, status.servedBytes);
  return status;
}

void CDownloadDriver::KeepPeerBytes(int task) {
  if (task > 0) m_peerBytesKept += QueryStatus(task).peerBytes;
}

PeerFigures CDownloadDriver::SharedSoFar() {
  PeerFigures peers;
  peers.received = m_peerBytesKept + QueryStatus(m_gameTask).peerBytes;
  peers.served = m_servedBytes;
  return peers;
}

void CDownloadDriver::ReenterWindow(int command, Reentry when) {
  if (when == Reentry::Now) {
    m_host.SendCommand(command, 0);
  } else {
    m_host.PostCommand(command);
  }
}

void CDownloadDriver::ReportCompletion(int cg, int cwdm) {
  m_reports.Report(kActionCompleteDownload, kEventCompleteDownload, 0, cg, cwdm, SharedSoFar());
}

void CDownloadDriver::StartTask(int task) {
  if (task > 0) m_engine.StartTask(task);
}

void CDownloadDriver::StopTask(int task) {
  if (task > 0) m_engine.StopTask(task);
}

void CDownloadDriver::CreateGameTask(bool newDownload) {
  const GameFileEntry& item = m_progress.currentItem;
  const std::wstring path = ItemPath(item);
  if (newDownload) {
    m_gameTask = m_engine.CreateP2SPTask(m_host.NotifyWindow(), GameTaskLink(item), path);
    m_h1Targets.insert(path);
  } else if (m_h1Targets.count(path) || !m_files.PathExists(engine_contract::SideFilePath(path))) {
    // The engine takes the MD5 text over from its record on disk only: with
    // no record yet (a task stopped before it first ran) or none any more
    // (data deleted), the plain link would lose the check.
    m_gameTask = m_engine.CreateP2SPTask(nullptr, GameTaskLink(item), path);
  } else {
    m_gameTask = m_engine.CreateP2SPTask(nullptr, item.downloadLink, path);
  }
}

void CDownloadDriver::RemoveGameTask() {
  if (m_gameTask <= 0) return;
  // The stop closes the task's download-time span; a removed task has none.
  m_engine.StopTask(m_gameTask);
  KeepPeerBytes(m_gameTask);
  m_engine.RemoveTask(m_gameTask);
  m_gameTask = -1;
}

bool CDownloadDriver::TakeItem() {
  // The mutex is recursive for its owner: a second wait on this thread would
  // need a second release, and the auto-continue thread would wait for ever.
  if (m_itemHeld) return true;
  if (!m_host.WaitItemMutex()) return false;
  m_itemHeld = true;
  return true;
}

void CDownloadDriver::ReleaseItem() {
  if (!m_itemHeld) return;
  m_itemHeld = false;
  m_host.ReleaseItemMutex();
}

void CDownloadDriver::EnsureAutoThread() {
  if (!m_host.IsAutoThreadRunning()) m_host.StartAutoThread();
}

void CDownloadDriver::StopAutoThread() { m_host.StopAutoThread(); }

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
  if (m_host.IsCompanionMutexTaken()) return false;
  StartCompanion(notifyWindow);
  return m_gardboxTask > 0;
}

bool CDownloadDriver::CompanionWanted() { return m_view.IsCompanionChecked() && m_gardboxTask != -1; }

bool CDownloadDriver::CompanionActive() { return CompanionWanted() && m_gardboxFinished == 0; }

void CDownloadDriver::StartTasks() {
  StartTask(CompanionActive() ? m_gardboxTask : m_gameTask);
  m_host.SetTimer(kTimerPoll);
  m_view.SetMode(ModeDownloading);
}

void CDownloadDriver::StopTasks() {
  StopTask(m_gardboxTask);
  StopTask(m_gameTask);
  m_host.KillTimer(kTimerPoll);
  m_view.SetMode(ModePaused);
}

void CDownloadDriver::RecreateTasks() {
  if (CompanionActive()) {
    m_gardboxFinished = 0;
    StopTask(m_gardboxTask);
    StartCompanion(nullptr);
  }
  // A task that has finished its file is kept. The file may have ended
  // between two polls, just before a pause or while offline: made again, the
  // task would start a new side file beside the finished file and fetch it all
  // once more, and a kill or an absent server would leave that side file there.
  // The next poll sees the finish and checks the file.
  if (QueryStatus(m_gameTask).state == kTaskStateFinished) return;
  StopTask(m_gameTask);
  KeepPeerBytes(m_gameTask);
  CreateGameTask(false);
}

void CDownloadDriver::CloseEngine() {
  // First the thread, so that no next-file command can reach an engine that
  // is gone.
  m_flow = DownloadFlow::Closed;
  StopAutoThread();
  StopTask(m_gardboxTask);
  StopTask(m_gameTask);
  m_host.KillTimer(kTimerPoll);
  m_host.KillTimer(kTimerReconnect);
  m_host.KillTimer(kTimerFileWait);
  m_engine.Uninit();
  // Whatever no task took is deleted, as it would have been at once.
  DropHeldFiles(m_files, m_progress);
}

bool CDownloadDriver::BeginDownload() {
  m_stallCount = 0;
  m_restartCount = 0;
  m_gardboxIdle = 0;
  m_gameDataSeen = false;
  m_host.KillTimer(kTimerPoll);
  // A task left from a failed run of this item would race the new one.
  RemoveGameTask();

  CreateGameTask(true);
  if (m_gameTask <= 0) return false;

  m_view.EnableCompanionCheckBox(false);
  bool companionStarted = false;
  if (m_view.IsCompanionChecked() && !m_host.IsCompanionMutexTaken()) {
    if (m_gardboxTask > 0) m_engine.RemoveTask(m_gardboxTask);
    StartCompanion(m_host.NotifyWindow());
    if (m_gardboxTask > 0) {
      StartTask(m_gardboxTask);
      companionStarted = true;
    }
  }
  // Without a companion to wait for (box cleared, or its download already
  // under way elsewhere) the game starts now, not after the first stall.
  if (!companionStarted) StartTask(m_gameTask);
  m_gardboxFinished = companionStarted ? 0 : 1;

  m_host.SetTimer(kTimerPoll);
  m_view.SetMode(ModeDownloading);
  m_flow = DownloadFlow::Downloading;
  return true;
}

int CDownloadDriver::GetGameProgressPercent() {
  const TaskStatus game = QueryStatus(m_gameTask);
  if (game.total == 0) return 0;
  return ProgressPercent(m_progress.completedBytes + game.done, m_totalGameSize);
}

uint64_t CDownloadDriver::CompanionSize(const TaskStatus& companion) {
  if (companion.total != 0) return companion.total;
  // Over without ever telling its size: a guess would stand on both sides of
  // the size text for good.
  if (m_gardboxFinished && m_gardboxTask > 0) return 0;
  return m_resume.LoadGardboxSize();
}

uint64_t CDownloadDriver::GetCompanionTotalSize() {
  // A game without a companion link has nothing to download for the box; a
  // remembered or default size would only make the total unreachable.
  if (!m_view.IsCompanionChecked() || m_settings.companionLink.empty()) return 0;
  return CompanionSize(QueryStatus(m_gardboxTask));
}

uint64_t CDownloadDriver::GetCompanionDoneSize() {
  if (!m_view.IsCompanionChecked() || m_settings.companionLink.empty()) return 0;
  const TaskStatus companion = QueryStatus(m_gardboxTask);
  if (companion.done != 0) return companion.done;
  const std::wstring path = CompanionPath();
  if (!FileNameOfLink(m_settings.companionLink).empty() && m_files.PathExists(path)) return m_files.FileSize(path);
  return 0;
}

PollDisplay CDownloadDriver::OnPollTimer() {
  PollDisplay display;
  if (m_flow != DownloadFlow::Downloading) {
    m_host.KillTimer(kTimerPoll);
    return display;
  }
  const TaskStatus game = QueryStatus(m_gameTask);
  TaskStatus companion = QueryStatus(m_gardboxTask);
  if (game.done != 0) m_gameDataSeen = true;

  bool itemEnded = false;
  if (game.state != kTaskStateRunning || m_restartCount > kMaxRestarts) {
    m_gameEverFinished = true;
    // While the finished file is awaited the item stays current and its
    // mutex held, so that the next file cannot start before this one is known
    // to be good; a failure has shown its prompt.
    if (OnGameTaskFinished(game.state) != FinishDone) return display;
    itemEnded = true;
  }

  if (CompanionActive()) {
    companion = QueryStatus(m_gardboxTask);
    m_gardboxIdle = companion.Speed() == 0 ? m_gardboxIdle + 1 : 0;
    m_gardboxFinished = m_gardboxIdle > kCompanionIdlePolls ? 1 : (companion.state != kTaskStateRunning ? 1 : 0);
    if (m_gardboxFinished) {
      StopTask(m_gardboxTask);
      if (companion.state == kTaskStateFinished) m_host.RunCompanionInstaller(CompanionPath());
      StartTask(m_gameTask);
    }
  }

  const uint64_t gameDone = itemEnded ? 0 : game.done;
  if (CompanionWanted()) {
    const uint64_t companionTotal = CompanionSize(companion);
    display.total = m_totalGameSize + companionTotal;
    display.done = m_progress.completedBytes + gameDone + (m_gardboxFinished ? companionTotal : companion.done);
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
  m_view.SetSpeedText(SpeedText(display.speed));
  m_view.SetProgress(display.percent);
  ShowSizes(display.done, display.total);
  return display;
}

void CDownloadDriver::ApplyStallRule(uint64_t speed) {
  if (speed != 0) {
    m_stallCount = 0;
    m_restartCount = 0;
    return;
  }
  if (!m_host.IsInternetConnected()) {
    if (m_gardboxTask > 0 && !m_gardboxFinished) m_engine.StopTask(m_gardboxTask);
    if (m_gameTask > 0) m_engine.StopTask(m_gameTask);
    m_host.SetTimer(kTimerReconnect);
    m_host.KillTimer(kTimerPoll);
    m_flow = DownloadFlow::Offline;
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
  FailDownload(kFailStalled);
}

void CDownloadDriver::FailDownload(int reason) {
  m_host.KillTimer(kTimerPoll);
  m_host.KillTimer(kTimerReconnect);
  m_host.KillTimer(kTimerFileWait);
  m_fileWaitTicks = 0;
  if (CompanionActive()) StopTask(m_gardboxTask);
  StopTask(m_gameTask);
  // The thread goes before the mutex: freed with the thread still waiting,
  // the mutex would let it start the next file behind the prompt.
  m_flow = DownloadFlow::Failed;
  StopAutoThread();
  ReleaseItem();
  if (reason > 0) ReportCompletion(report_words::kFailed, reason);
  ShowDownloadFailed();
}

void CDownloadDriver::OnReconnectTimer() {
  // A tick already on its way when the player paused.
  if (m_flow != DownloadFlow::Offline) {
    m_host.KillTimer(kTimerReconnect);
    return;
  }
  if (!m_host.IsInternetConnected()) return;
  if (m_progress.currentItem.downloadLink.empty() && !m_progress.pendingItems.empty()) {
    m_progress.currentItem = m_progress.pendingItems.front();
  }
  m_host.KillTimer(kTimerReconnect);
  m_flow = DownloadFlow::Downloading;
  RecreateTasks();
  StartTasks();
}

void CDownloadDriver::OnFileWaitTimer() {
  if (m_flow != DownloadFlow::WaitingFile) {
    m_host.KillTimer(kTimerFileWait);
    return;
  }
  ++m_fileWaitTicks;
  const std::wstring path = ItemPath(m_progress.currentItem);
  if (m_files.PathExists(path)) {
    m_host.KillTimer(kTimerFileWait);
    m_fileWaitTicks = 0;
    OnFileReady(path);
    return;
  }
  if (m_fileWaitTicks < kFileWaitTicks) return;
  RemoveGameTask();
  FailDownload(kFailCheck);
}

void CDownloadDriver::EndItem() {
  m_host.KillTimer(kTimerFileWait);
  m_fileWaitTicks = 0;
  // The item that ended, which need not be the front: a resume can pick up
  // the side file of a later file while an earlier one is still missing.
  auto& pending = m_progress.pendingItems;
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (it->downloadLink == m_progress.currentItem.downloadLink) {
      pending.erase(it);
      break;
    }
  }
  m_flow = m_progress.pendingItems.empty() ? DownloadFlow::Complete : DownloadFlow::BetweenFiles;
  ReleaseItem();
  if (m_progress.pendingItems.empty()) {
    ReportCompletion(report_words::kCompleted, -1);
  }
}

// -- window start-up and commands ---------------------------------------------

void CDownloadDriver::ShowSizes(uint64_t done, uint64_t total) { m_view.SetSizesText(SizesText(done, total)); }

void CDownloadDriver::RefreshProgress() {
  const TaskStatus game = QueryStatus(m_gameTask);
  uint64_t done = game.done;
  uint64_t total = m_totalGameSize;
  if (m_view.IsCompanionChecked()) {
    total += GetCompanionTotalSize();
    done += GetCompanionDoneSize();
  }
  if (total == 0) {
    ShowSizes(0, 0);
    m_view.SetProgress(0);
    return;
  }
  uint64_t base = 0;
  if (m_settings.fileList.size() != 1) {
    base = m_progress.completedBytes;
    if (m_gameEverFinished && m_progress.pendingItems.size() == 1) {
      ShowSizes(base, total);
      m_view.SetProgress(GetGameProgressPercent());
      return;
    }
  }
  ShowSizes(base + done, total);
  m_view.SetProgress(GetGameProgressPercent());
}

void CDownloadDriver::OnStartup(int resumeCode) {
  switch (resumeCode) {
    case ResumeNone: {
      m_resume.ResetResumeFile();
      const std::wstring firstName = m_progress.pendingItems.empty()
                                         ? std::wstring()
                                         : FileNameOfLink(m_progress.pendingItems.front().downloadLink);
      m_progress.saveDir = ProposeDefaultDir(m_disk, m_totalGameSize, firstName);
      m_view.ShowSaveDir(m_progress.saveDir, false);
      RefreshProgress();
      break;
    }
    case ResumePartial:
      m_flow = DownloadFlow::Paused;
      m_gameDataSeen = m_files.PathExists(engine_contract::SideFilePath(ItemPath(m_progress.currentItem)));
      m_view.ShowSaveDir(m_progress.saveDir, true);
      m_view.SetCompanionChecked(m_resume.LoadInstallGardbox(m_view.IsCompanionChecked()));
      m_view.EnableCompanionCheckBox(false);
      CreateGameTask(false);
      if (m_view.IsCompanionChecked()) CreateCompanionTask(nullptr);
      StopTasks();
      m_view.SetSpeedText(SpeedText(0));
      m_view.SetMode(ModePaused);
      RefreshProgress();
      break;
    case ResumeComplete: {
      m_flow = DownloadFlow::Complete;
      m_view.ShowSaveDir(m_progress.saveDir, true);
      m_view.EnableCompanionCheckBox(false);
      const uint64_t total = m_totalGameSize + GetCompanionTotalSize();
      ShowSizes(total, total);
      m_view.SetProgress(100);
      m_view.SetMode(ModeFinished);
      break;
    }
    case ResumeSomeComplete:
      m_flow = DownloadFlow::ListStopped;
      m_someItemsDone = true;
      m_view.SetProgress(ProgressPercent(m_progress.completedBytes, m_totalGameSize));
      ShowSizes(m_progress.completedBytes, m_totalGameSize);
      if (!m_progress.pendingItems.empty()) m_progress.currentItem = m_progress.pendingItems.front();
      m_view.SetCompanionChecked(m_resume.LoadInstallGardbox(m_view.IsCompanionChecked()));
      m_view.ShowSaveDir(m_progress.saveDir, true);
      m_view.SetMode(ModePaused);
      break;
    default:
      m_resume.ResetResumeFile();
      break;
  }
}

void CDownloadDriver::OnDownloadCommand(int lParam) {
  const bool fromThread = lParam == kAutoContinueParam;
  // The thread's command is a next-file request: it means something only
  // right after a file ended well. Sent before a stop, it may arrive late
  // (inside a prompt, during the stop itself) and must then start nothing.
  if (fromThread ? m_flow != DownloadFlow::BetweenFiles
                 : !(m_flow == DownloadFlow::Idle || m_flow == DownloadFlow::Failed ||
                     m_flow == DownloadFlow::Complete || m_flow == DownloadFlow::ListStopped)) {
    return;
  }
  // Without an engine nothing can be downloaded; say so instead of failing
  // quietly later.
  if (!m_engine.IsLoaded()) {
    ShowDownloadFailed();
    return;
  }
  if (!fromThread) {
    m_progress.pendingItems.assign(m_settings.fileList.begin(), m_settings.fileList.end());
  }
  if (!StartDownloadFlow(fromThread)) return;
  if (!m_host.IsAutoThreadRunning()) {
    m_reports.Report(kActionStartDownload, kEventStartDownload, m_view.IsCompanionChecked() ? 1 : 0, 0, 0, {});
    m_host.StartAutoThread();
  }
}

void CDownloadDriver::OnContinueCommand() {
  m_reports.Report(kActionRestartDownload, L"RestartDownload", 0, 0, 0, {});
  if (!m_engine.IsLoaded()) {
    ShowDownloadFailed();
    return;
  }
  if (m_flow == DownloadFlow::Paused) {
    ContinueItem();
  } else if (m_flow == DownloadFlow::ListStopped) {
    if (!m_progress.pendingItems.empty() && StartDownloadFlow(true)) EnsureAutoThread();
  }
}

void CDownloadDriver::ContinueItem() {
  if (m_progress.currentItem.downloadLink.empty()) {
    // Nothing was ever set up for this item: start it as the list would.
    m_flow = DownloadFlow::ListStopped;
    if (!m_progress.pendingItems.empty() && StartDownloadFlow(true)) EnsureAutoThread();
    return;
  }
  if (!TakeItem()) return;
  const std::wstring path = ItemPath(m_progress.currentItem);
  if (m_files.PathExists(path)) {
    if (!m_progress.pendingItems.empty()) m_progress.currentItem = m_progress.pendingItems.front();
    m_flow = DownloadFlow::Downloading;
    RecreateTasks();
    StartTasks();
    EnsureAutoThread();
    return;
  }
  // The engine makes the side file only once the game task runs: before the
  // task has shown any data (the companion still downloading, a pause in the
  // first seconds) its absence is no loss.
  if (m_gameDataSeen && !m_files.PathExists(engine_contract::SideFilePath(path))) {
    if (m_prompts.ShowFileDamagedPrompt() == PromptResultAction) RestartFromScratch();
    return;
  }
  m_flow = DownloadFlow::Downloading;
  StartTasks();
  EnsureAutoThread();
}

void CDownloadDriver::OnPauseCommand() {
  switch (m_flow) {
    case DownloadFlow::Downloading:
    case DownloadFlow::Offline:
    case DownloadFlow::WaitingFile:
      StopTasks();
      // Neither the way back online nor the wait for the file may undo it.
      m_host.KillTimer(kTimerReconnect);
      m_host.KillTimer(kTimerFileWait);
      m_fileWaitTicks = 0;
      m_flow = DownloadFlow::Paused;
      break;
    case DownloadFlow::BetweenFiles:
      // The next file is not set up yet: the list stops before it.
      m_flow = DownloadFlow::ListStopped;
      StopAutoThread();
      break;
    default:
      return;
  }
  m_view.SetSpeedText(SpeedText(0));
  m_view.SetMode(ModePaused);
  m_reports.Report(kActionPauseDownload, L"PauseDownload", 0, 0, 0, {});
}

void CDownloadDriver::OnCompanionToggled() {
  RefreshProgress();
  m_resume.SaveInstallGardbox(m_view.IsCompanionChecked() ? 1 : 0);
}

// -- save directory -----------------------------------------------------------

int CDownloadDriver::RefuseDir(bool continuingList) {
  if (continuingList) {
    // Left to the thread, the refused folder would be offered again at once,
    // for ever: the list waits for the player's continue instead.
    m_flow = DownloadFlow::ListStopped;
    StopAutoThread();
    ReleaseItem();
    m_view.SetSpeedText(SpeedText(0));
    m_view.SetMode(ModePaused);
  } else {
    m_flow = DownloadFlow::Idle;
    ReleaseItem();
    m_view.SetMode(ModeReady);
  }
  return 0;
}

uint64_t CDownloadDriver::HeldBytesIn(const std::wstring& dir) {
  if (!IsHeldDir(m_progress, dir)) return 0;
  uint64_t held = 0;
  for (const GameFileEntry& entry : m_progress.pendingItems) {
    const std::wstring name = FileNameOfLink(entry.downloadLink);
    const std::wstring path = WithTrailingBackslash(dir) + name;
    if (m_progress.heldNames.count(name) && m_disk.PathExists(path)) held += std::min(m_disk.FileSize(path), entry.size);
  }
  return held;
}

int CDownloadDriver::StartDownloadFlow(bool continuingList) {
  if (m_progress.pendingItems.empty()) return 0;
  m_someItemsDone = false;
  if (!TakeItem()) return 0;
  // Whatever arrives while the folder prompts are up finds the item taken.
  m_flow = DownloadFlow::Starting;

  m_resume.SaveInstallGardbox(m_view.IsCompanionChecked() ? 1 : 0);
  m_progress.currentItem = m_progress.pendingItems.front();
  const GameFileEntry item = m_progress.currentItem;
  const std::wstring name = FileNameOfLink(item.downloadLink);

  uint64_t largest = 0;
  for (const GameFileEntry& entry : m_settings.fileList) largest = std::max(largest, entry.size);

  std::wstring dir = m_progress.saveDir;
  // With nothing proposed there is nothing to test: ask first.
  bool browse = dir.empty();
  for (;;) {
    if (browse && !m_host.BrowseForDir(&dir)) return RefuseDir(continuingList);
    browse = true;
    uint64_t needed = m_totalGameSize > m_progress.completedBytes ? m_totalGameSize - m_progress.completedBytes : 0;
    // Files held here make room as the engine needs it.
    needed -= std::min(needed, HeldBytesIn(dir));
    const DirCheck check = CheckSaveDir(m_disk, dir, largest, needed, name, name);
    if (check == DirCheck::Accepted) break;
    if (m_prompts.ShowDirError(DirCheckMessage(check)) != PromptResultAction) return RefuseDir(continuingList);
  }

  m_progress.saveDir = WithTrailingBackslash(dir);
  m_view.ShowSaveDir(m_progress.saveDir, true);

  // Held files are of no use in another folder.
  if (!m_progress.heldDir.empty() && !IsHeldDir(m_progress, m_progress.saveDir)) DropHeldFiles(m_files, m_progress);
  // A held file goes to the engine even if it looks complete: it is held
  // because the download starts over, and only the engine checks every piece.
  const bool held = m_progress.heldNames.erase(name) > 0;

  const std::wstring path = m_progress.saveDir + name;
  bool alreadyThere = false;
  if (!held && m_settings.safecheck != L"0" && m_files.PathExists(path)) {
    alreadyThere = m_files.IsFileComplete(path, item.size) && m_files.VerifyFileMd5(path, item.md5Text);
  }
  m_resume.SaveDownloadDir(m_progress.saveDir);

  if (alreadyThere) {
    // The file counts as downloaded: the list moves on to the next one (or
    // ends here), rather than waiting forever for a task that never runs.
    m_progress.completedBytes += item.size;
    m_progress.pendingItems.pop_front();
    m_flow = m_progress.pendingItems.empty() ? DownloadFlow::Complete : DownloadFlow::BetweenFiles;
    ReleaseItem();
    if (m_progress.pendingItems.empty()) {
      const uint64_t total = m_totalGameSize + GetCompanionTotalSize();
      m_view.SetMode(ModeFinished);
      m_view.SetProgress(100);
      ShowSizes(total, total);
    } else {
      RefreshProgress();
    }
    return 1;
  }

  if (!BeginDownload()) {
    FailDownload(0);
    return 0;
  }
  return 1;
}

void CDownloadDriver::ChangeSaveDir() {
  const std::wstring frontName =
      m_progress.pendingItems.empty() ? std::wstring() : FileNameOfLink(m_progress.pendingItems.front().downloadLink);
  for (;;) {
    std::wstring dir;
    if (!m_host.BrowseForDir(&dir)) return;
    const DirCheck check = CheckSaveDir(m_disk, dir, m_totalGameSize, m_totalGameSize, frontName, frontName);
    if (check == DirCheck::Accepted) {
      m_progress.saveDir = WithTrailingBackslash(dir);
      m_view.ShowSaveDir(m_progress.saveDir, false);
      break;
    }
    if (m_prompts.ShowDirError(DirCheckMessage(check)) != PromptResultAction) return;
  }
  if (m_settings.fileList.size() > 1) DeleteAllIfAnyMissing(m_resume, m_files, m_settings.fileList, m_progress);
}

// -- completion -----------------------------------------------------------------

CDownloadDriver::FinishResult CDownloadDriver::OnGameTaskFinished(uint8_t state) {
  m_host.KillTimer(kTimerPoll);
  m_view.SetSpeedText(SpeedText(0));
  if (state == kTaskStateFinished) {
    const std::wstring path = ItemPath(m_progress.currentItem);
    if (m_files.PathExists(path)) return OnFileReady(path) ? FinishDone : FinishStop;
    m_fileWaitTicks = 0;
    m_flow = DownloadFlow::WaitingFile;
    m_host.SetTimer(kTimerFileWait);
    return FinishWaiting;
  }
  m_view.SetMode(ModeDownloading);
  FailDownload(state == kTaskStateFailedDownload ? kFailDownload : state == kTaskStateFailedCheck ? kFailCheck : 0);
  return FinishStop;
}

int CDownloadDriver::OnFileReady(const std::wstring& path) {
  const bool last = m_progress.pendingItems.size() == 1;
  if (last) m_view.SetProgress(100);
  const GameFileEntry item = m_progress.currentItem;
  bool good = m_files.IsFileComplete(path, item.size);
  if (good && m_settings.safecheck == L"1") good = m_files.VerifyFileMd5(path, item.md5Text);

  if (!good) {
    RemoveGameTask();
    FailFileCheck();
    return 0;
  }
  m_progress.completedBytes += item.size;
  RefreshProgress();
  RemoveGameTask();
  // The item is over before any prompt, so that whatever runs inside the
  // prompt's loop finds the list in its next state.
  if (!last) {
    EndItem();
    return 1;
  }
  m_view.SetMode(ModeFinished);
  ReenterWindow(kCmdActivate, Reentry::Now);
  EndItem();
  if (m_prompts.ShowInstallPrompt() == PromptResultAction) ReenterWindow(kCmdInstall, Reentry::AfterReturn);
  m_view.SetMode(ModeFinished);
  return 1;
}

void CDownloadDriver::FailFileCheck() {
  m_host.KillTimer(kTimerFileWait);
  m_fileWaitTicks = 0;
  m_flow = DownloadFlow::Failed;
  StopAutoThread();
  ReleaseItem();
  ReportCompletion(report_words::kFailed, kFailCheck);
  const size_t pending = m_progress.pendingItems.size();
  const int result = m_prompts.ShowFileCheckFailedPrompt(pending >= 2);
  if (result == PromptResultAction) {
    if (m_settings.fileList.size() < 2 || pending < 2) {
      m_view.SetMode(ModeFinished);
      ReenterWindow(kCmdOpenDir, Reentry::Now);
    } else {
      ReenterWindow(kCmdRedownload, Reentry::Now);
    }
  } else if (result != PromptResultFeedback) {
    m_view.SetMode(pending == 1 ? ModeFinished : ModeRestart);
  }
}

void CDownloadDriver::ShowDownloadFailed() {
  const int result = m_prompts.ShowDownloadFailedPrompt();
  m_view.SetMode(ModeRestart);
  if (result == PromptResultAction) ReenterWindow(kCmdFeedback, Reentry::Now);
}

void CDownloadDriver::RunInstaller() {
  const std::vector<GameFileEntry>& list = m_settings.fileList;
  if (list.empty()) return;
  const bool several = list.size() > 1;
  const std::wstring name = several ? m_settings.gameStart : FileNameOfLink(list.front().downloadLink);
  const std::wstring target = m_progress.saveDir + name;
  // An empty name would "run" the directory itself.
  if (!name.empty() && !m_progress.saveDir.empty() && m_files.PathExists(target)) {
    m_host.ShellOpen(target);
    return;
  }
  if (several) {
    if (m_prompts.ShowFileErrPrompt() == PromptResultAction) ReenterWindow(kCmdOpenDir, Reentry::Now);
    return;
  }
  if (m_prompts.ShowFileDamagedPrompt() == PromptResultAction) RestartFromScratch();
}

void CDownloadDriver::RestartFromScratch() {
  m_reports.Report(kActionRedownload, L"", 0, 0, 0, {});
  Redownload();
}

void CDownloadDriver::OpenSaveDir() {
  const std::wstring& dir = m_progress.saveDir;
  if (dir.empty() || !m_files.PathExists(dir)) {
    m_prompts.ShowDirOpenFailedPrompt();
    return;
  }
  const std::wstring name =
      m_progress.pendingItems.empty() ? std::wstring() : FileNameOfLink(m_progress.pendingItems.front().downloadLink);
  if (!name.empty()) {
    if (m_files.PathExists(engine_contract::SideFilePath(dir + name))) {
      m_host.OpenFolderAndSelect(engine_contract::SideFilePath(dir + name));
      return;
    }
    if (m_files.PathExists(dir + name)) {
      m_host.OpenFolderAndSelect(dir + name);
      return;
    }
  }
  m_host.ShellOpen(dir);
}

void CDownloadDriver::Redownload() {
  if (m_flow == DownloadFlow::Closed) return;
  // Whatever ran for the old list stops first: one task per target, and no
  // next-file command from the old thread.
  m_flow = DownloadFlow::Idle;
  StopAutoThread();
  m_host.KillTimer(kTimerPoll);
  m_host.KillTimer(kTimerReconnect);
  m_host.KillTimer(kTimerFileWait);
  m_fileWaitTicks = 0;
  RemoveGameTask();
  StopTask(m_gardboxTask);
  m_progress.pendingItems.assign(m_settings.fileList.begin(), m_settings.fileList.end());
  m_progress.completedBytes = 0;
  m_view.SetProgress(0);
  // The files stay for the engine, which keeps their pieces that match the
  // manifest and removes them (at once without one). The side files stay
  // too: the engine resumes only from a record that matches link, size and
  // MD5 text, and otherwise reads their data like the files'.
  if (!m_progress.saveDir.empty()) HoldDownloadedFiles(m_progress.saveDir, m_settings.fileList, false, m_progress);
  ReenterWindow(kCmdDownload, Reentry::Now);
}
