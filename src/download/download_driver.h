#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/game_file_entry.h"
#include "contract/report_words.h"
#include "download/download_engine.h"
#include "download/download_ids.h"
#include "state/resume_state.h"
#include "download/save_dir_rules.h"
#include "stats/report_url.h"

// Zero-speed polls tolerated before a restart, and restarts before giving up.
constexpr unsigned kStallPolls = 90;
constexpr unsigned kMaxRestarts = 3;
// Zero-speed polls after which the companion download is given up.
constexpr int kCompanionIdlePolls = 5;
// Seconds to wait for a finished file to show up at its path.
constexpr int kFileWaitTicks = 30;

// Report action codes (the report's words are in contract/report_words.h).
constexpr const wchar_t* kActionStartDownload = report_words::kActionStartDownload.wide;
constexpr const wchar_t* kActionPauseDownload = report_words::kActionPauseDownload.wide;
constexpr const wchar_t* kActionRestartDownload = report_words::kActionRestartDownload.wide;
constexpr const wchar_t* kActionCompleteDownload = report_words::kActionCompleteDownload.wide;
constexpr const wchar_t* kActionRedownload = report_words::kActionRedownload.wide;

// Failure reasons of "CompleteDownload".
constexpr int kFailStalled = report_words::kFailStalled;
constexpr int kFailCheck = report_words::kFailCheck;
constexpr int kFailDownload = report_words::kFailDownload;

// "PDown://b7=1|<link>|h1=<md5 text>": the link of a new game task.
std::wstring GameTaskLink(const GameFileEntry& item);

// Milestone reports; on Windows these go to the statistics queue. `peers`
// travels with "CompleteDownload" only.
class IReportSink {
 public:
  virtual void Report(const std::wstring& action, const std::wstring& eventName, int tg, int cg, int cwdm,
                      const PeerFigures& peers) = 0;

 protected:
  ~IReportSink() = default;
};

// What the download window shows. Every call of these three interfaces
// comes from the window's own thread.
class IDownloadView {
 public:
  virtual void SetMode(int mode) = 0;
  virtual void SetProgress(int percent) = 0;
  virtual void SetSizesText(const std::wstring& text) = 0;
  virtual void SetSpeedText(const std::wstring& text) = 0;
  // Shows the save directory in the path text; `accepted` swaps "更改" for "打开".
  virtual void ShowSaveDir(const std::wstring& dir, bool accepted) = 0;
  virtual bool IsCompanionChecked() = 0;
  virtual void SetCompanionChecked(bool checked) = 0;
  virtual void EnableCompanionCheckBox(bool enable) = 0;

 protected:
  ~IDownloadView() = default;
};

// The prompts; each runs its own message loop and returns its result code.
class IDownloadPrompts {
 public:
  virtual int ShowDirError(const std::wstring& message) = 0;
  virtual int ShowDownloadFailedPrompt() = 0;
  virtual int ShowFileCheckFailedPrompt(bool moreFiles) = 0;
  virtual int ShowInstallPrompt() = 0;
  virtual int ShowFileErrPrompt() = 0;
  virtual int ShowFileDamagedPrompt() = 0;
  virtual void ShowDirOpenFailedPrompt() = 0;

 protected:
  ~IDownloadPrompts() = default;
};

// What the window and the machine provide around the download.
class IDownloadHost {
 public:
  // Handle passed to new tasks; may be null.
  virtual void* NotifyWindow() = 0;
  virtual void SetTimer(int id) = 0;
  virtual void KillTimer(int id) = 0;
  virtual bool IsInternetConnected() = 0;
  // Opens the companion mutex; true when it already existed (another process,
  // or this one earlier). The handle stays open for the process.
  virtual bool IsCompanionMutexTaken() = 0;
  // Runs the companion installer silently on a worker thread.
  virtual void RunCompanionInstaller(const std::wstring& path) = 0;
  // The item mutex, held while one file is set up and downloaded.
  virtual bool WaitItemMutex() = 0;
  virtual void ReleaseItemMutex() = 0;
  virtual bool IsAutoThreadRunning() = 0;
  virtual void StartAutoThread() = 0;
  // Signals the auto-continue thread to end and waits for it (except from
  // inside the command it is sending).
  virtual void StopAutoThread() = 0;
  virtual void SendCommand(int id, int lParam) = 0;
  virtual void PostCommand(int id) = 0;
  // Folder dialog; false when cancelled.
  virtual bool BrowseForDir(std::wstring* dir) = 0;
  virtual void ShellOpen(const std::wstring& target) = 0;
  virtual void OpenFolderAndSelect(const std::wstring& path) = 0;

 protected:
  ~IDownloadHost() = default;
};

// The window implements all three.
class IDownloadWindow : public IDownloadView, public IDownloadPrompts, public IDownloadHost {
 protected:
  ~IDownloadWindow() = default;
};

// The files the completion checks look at: those of resume detection, and
// the size of a file.
class IDownloadFiles : public IResumeFiles {
 public:
  // 0 when the file cannot be opened.
  virtual uint64_t FileSize(const std::wstring& path) = 0;

 protected:
  ~IDownloadFiles() = default;
};

// Where the download of the list stands; docs/download-flow.md draws the
// moves between these. The item mutex is held by the driver exactly in the
// states marked "item".
enum class DownloadFlow {
  Idle,          // nothing started (or a start was refused): download button
  Starting,      // item: the folder of the next file is being checked
  Downloading,   // item: the companion or the game task runs, poll timer on
  Offline,       // item: tasks parked, reconnect timer on
  WaitingFile,   // item: the engine said finished, waiting for the file
  Paused,        // item (once continued): tasks stopped by the player
  BetweenFiles,  // a file ended well; the auto-continue thread starts the next
  ListStopped,   // the list stopped before a file (refused folder, pause
                 // between files, a later start): continue starts that file
  Failed,        // a prompt offered the way on; the item is let go
  Complete,      // every file is there and checked
  Closed,        // the engine is shut down; nothing runs any more
};

// The configuration values the download needs.
struct DownloadSettings {
  std::vector<GameFileEntry> fileList;
  std::wstring safecheck;      // "1": MD5 check; "0": no check of a file already there
  std::wstring gameStart;      // installer of a several-file game
  std::wstring companionLink;  // GardboxDownloaderLink
  std::wstring tempDir;        // where the companion installer goes, ending in "\"
  std::wstring seedUrl;
};

// What one poll showed.
struct PollDisplay {
  uint64_t done = 0;
  uint64_t total = 0;
  uint64_t speed = 0;
  int percent = 0;
};

// The download window's engine driving, directory flow and completion, as
// plain decisions. CDLDlg owns one, forwards its timers and commands to it,
// and implements IDownloadWindow for it.
class CDownloadDriver {
 public:
  CDownloadDriver(IDownloadEngine& engine, IDownloadView& view, IDownloadPrompts& prompts, IDownloadHost& host,
                  IDownloadFiles& files, IDiskSystem& disk, IReportSink& reports, CResumeState& resume,
                  DownloadSettings settings);
  CDownloadDriver(IDownloadEngine& engine, IDownloadWindow& window, IDownloadFiles& files, IDiskSystem& disk,
                  IReportSink& reports, CResumeState& resume, DownloadSettings settings)
      : CDownloadDriver(engine, window, window, window, files, disk, reports, resume, std::move(settings)) {}

  // Process-wide download values (PendingItems, CompletedBytes, m_saveDir,
  // m_currentItem) as resume detection fills them.
  ResumeProgress& Progress() { return m_progress; }
  uint64_t TotalGameSize() const { return m_totalGameSize; }
  int GameTask() const { return m_gameTask; }
  int CompanionTask() const { return m_gardboxTask; }
  bool CompanionFinished() const { return m_gardboxFinished != 0; }
  int CompanionIdle() const { return m_gardboxIdle; }
  unsigned StallCount() const { return m_stallCount; }
  unsigned RestartCount() const { return m_restartCount; }
  bool SomeItemsDone() const { return m_someItemsDone; }
  DownloadFlow Flow() const { return m_flow; }
  // Whether the driver holds the item mutex now.
  bool HoldsItem() const { return m_itemHeld; }
  // What the next "CompleteDownload" tells of sharing: the game's bytes from
  // other players in this run (every game task's, the companion's not) and
  // the engine's bytes served.
  PeerFigures SharedSoFar();

  // -- engine driving ------------------------------------------------------
  // WM_CREATE: Init and the seed URL.
  void StartEngine();
  TaskStatus QueryStatus(int task);
  // New download: the PDown link and the window; otherwise the plain link and
  // no window.
  void CreateGameTask(bool newDownload);
  // Only when the companion mutex was free. Returns true when created.
  bool CreateCompanionTask(void* notifyWindow);
  void StartTasks();
  void StopTasks();
  void RecreateTasks();
  // Tray menu "关闭".
  void CloseEngine();
  // Returns false when the game task could not be created.
  bool BeginDownload();
  int GetGameProgressPercent();
  uint64_t GetCompanionTotalSize();
  uint64_t GetCompanionDoneSize();
  bool CompanionWanted();
  bool CompanionActive();

  // Timer 0.
  PollDisplay OnPollTimer();
  // Timer 1.
  void OnReconnectTimer();
  // Timer 2.
  void OnFileWaitTimer();

  // -- window start-up and commands ---------------------------------------
  // WM_CREATE, after DetectResumeState.
  void OnStartup(int resumeCode);
  // Command 10; `lParam` is kAutoContinueParam from the auto-continue thread.
  void OnDownloadCommand(int lParam);
  // Command 11.
  void OnContinueCommand();
  // Command 12.
  void OnPauseCommand();
  // Command 7.
  void OnCompanionToggled();
  void RefreshProgress();
  void ShowSizes(uint64_t done, uint64_t total);

  // -- save directory ------------------------------------------------------
  // `continuingList`: the file is a later one of a list already under way
  // (the auto-continue thread, or continue after the list stopped).
  int StartDownloadFlow(bool continuingList = false);
  void ChangeSaveDir();

  // -- completion ----------------------------------------------------------
  enum FinishResult { FinishStop = 0, FinishDone = 1, FinishWaiting = 2 };
  FinishResult OnGameTaskFinished(uint8_t state);
  int OnFileReady(const std::wstring& path);
  void ShowDownloadFailed();
  // Command 18.
  void RunInstaller();
  // Command 16.
  void OpenSaveDir();
  // Command 20.
  void Redownload();

 private:
  std::wstring ItemPath(const GameFileEntry& item) const;
  std::wstring CompanionPath() const;
  void StartTask(int task);
  void StopTask(int task);
  void StartCompanion(void* notifyWindow);
  void EndItem();
  void ApplyStallRule(uint64_t speed);
  void RestartFromScratch();
  // The item mutex and the auto-continue thread have one owner: these.
  bool TakeItem();
  void ReleaseItem();
  void EnsureAutoThread();
  void StopAutoThread();
  // A failed item: everything stops before the prompt, so nothing can start
  // behind it.
  void FailDownload(int reason);
  void FailFileCheck();
  int RefuseDir(bool continuingList);
  void ContinueItem();
  void RemoveGameTask();
  uint64_t CompanionSize(const TaskStatus& companion);
  // A game task's bytes from players, kept before the task is removed or
  // replaced (a new task counts from 0).
  void KeepPeerBytes(int task);
  void ReportCompletion(int cg, int cwdm);

  IDownloadEngine& m_engine;
  IDownloadView& m_view;
  IDownloadPrompts& m_prompts;
  IDownloadHost& m_host;
  IDownloadFiles& m_files;
  IDiskSystem& m_disk;
  IReportSink& m_reports;
  CResumeState& m_resume;
  DownloadSettings m_settings;

  ResumeProgress m_progress;
  uint64_t m_totalGameSize = 0;
  int m_gameTask = -1;
  int m_gardboxTask = -1;
  int m_gardboxFinished = 0;
  int m_gardboxIdle = 0;
  unsigned m_stallCount = 0;
  unsigned m_restartCount = 0;
  int m_fileWaitTicks = 0;
  bool m_gameEverFinished = false;
  bool m_someItemsDone = false;
  DownloadFlow m_flow = DownloadFlow::Idle;
  bool m_itemHeld = false;
  // The engine has reported data of the current game task (or its side file
  // was there at start-up): only then can that data be gone.
  bool m_gameDataSeen = false;
  // Targets whose task was made with the MD5 text in this run; made again,
  // they keep it even before the engine has written its record.
  std::set<std::wstring> m_h1Targets;
  uint64_t m_peerBytesKept = 0;  // of the game tasks gone in this run
  uint64_t m_servedBytes = 0;    // the largest the engine told: the count only grows
};
