#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/game_file_entry.h"
#include "download/download_engine.h"
#include "download/download_files.h"
#include "download/download_flow.h"
#include "download/download_ids.h"
#include "download/download_reports.h"
#include "download/download_window.h"
#include "download/save_dir_rules.h"
#include "state/resume_state.h"

// "PDown://b7=1|<link>|h1=<md5 text>": the link of a new game task.
std::wstring GameTaskLink(const GameFileEntry& item);

// The download window's engine driving, directory flow and completion, as
// plain decisions. CDLDlg owns one and forwards its timers and commands to it;
// the window is its view, and the window's prompt and host adapters are its
// prompts and host.
class CDownloadDriver {
 public:
  CDownloadDriver(IDownloadEngine& engine, IDownloadView& view, IDownloadPrompts& prompts, IDownloadHost& host,
                  IDownloadFiles& files, IDiskSystem& disk, IReportSink& reports, CResumeState& resume,
                  DownloadSettings settings);
  CDownloadDriver(IDownloadEngine& engine, IDownloadWindow& window, IDownloadFiles& files, IDiskSystem& disk,
                  IReportSink& reports, CResumeState& resume, DownloadSettings settings)
      : CDownloadDriver(engine, window, window, window, files, disk, reports, resume, std::move(settings)) {}

  // The files still to come, the bytes of those done, the save folder and the
  // current file; resume detection fills them at start-up.
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

  // kTimerPoll.
  PollDisplay OnPollTimer();
  // kTimerReconnect.
  void OnReconnectTimer();
  // kTimerFileWait.
  void OnFileWaitTimer();

  // -- window start-up and commands ---------------------------------------
  // WM_CREATE, after DetectResumeState.
  void OnStartup(int resumeCode);
  // kCmdDownload; `lParam` is kAutoContinueParam from the auto-continue thread.
  void OnDownloadCommand(int lParam);
  // kCmdContinue.
  void OnContinueCommand();
  // kCmdPause.
  void OnPauseCommand();
  // kCmdCompanionBox.
  void OnCompanionToggled();
  void RefreshProgress();
  void ShowSizes(uint64_t done, uint64_t total);

  // -- save directory ------------------------------------------------------
  // `continuingList`: the file is a later one of a list already under way
  // (the auto-continue thread, or continue after the list stopped).
  int StartDownloadFlow(bool continuingList = false);
  // Bytes of the held files in `dir` that pending items will replace.
  uint64_t HeldBytesIn(const std::wstring& dir);
  void ChangeSaveDir();

  // -- completion ----------------------------------------------------------
  enum FinishResult { FinishStop = 0, FinishDone = 1, FinishWaiting = 2 };
  FinishResult OnGameTaskFinished(uint8_t state);
  int OnFileReady(const std::wstring& path);
  void ShowDownloadFailed();
  // kCmdInstall.
  void RunInstaller();
  // kCmdOpenDir.
  void OpenSaveDir();
  // kCmdRedownload.
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
  enum class Reentry {
    Now,          // the window's handler, and through it this driver, runs before the caller's next line
    AfterReturn,  // the window's message loop takes the command once the handler under the caller returns
  };
  // Every command the driver gives its own window goes through here.
  void ReenterWindow(int command, Reentry when);

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
