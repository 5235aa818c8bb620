#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/scoped_win.h"
#include "download/auto_continue_win.h"
#include "download/download_window.h"
#include "state/resume_state.h"

// The download window's Win32 half for the driver: the window's timers and
// commands, the item mutex and the auto-continue thread, the companion's
// mutex and installer, the folder dialog and the shell.
class CDownloadHostWin : public IDownloadHost {
 public:
  CDownloadHostWin();
  ~CDownloadHostWin();
  CDownloadHostWin(const CDownloadHostWin&) = delete;
  CDownloadHostWin& operator=(const CDownloadHostWin&) = delete;

  // The window the timers, commands and dialogs belong to, once it exists.
  void Attach(HWND window) { m_window = window; }
  // The driver's files still to come, which the auto-continue thread asks
  // about through SyncPending.
  void WatchProgress(const ResumeProgress& progress) { m_progress = &progress; }
  // Tells the auto-continue thread whether files remain; called after every
  // command and timer of the window.
  void SyncPending();
  CAutoContinue& AutoThread() { return m_autoThread; }

  void* NotifyWindow() override { return m_window; }
  void SetTimer(int id) override;
  void KillTimer(int id) override;
  bool IsInternetConnected() override;
  bool IsCompanionMutexTaken() override;
  void RunCompanionInstaller(const std::wstring& path) override;
  bool WaitItemMutex() override;
  void ReleaseItemMutex() override;
  bool IsAutoThreadRunning() override;
  void StartAutoThread() override;
  void StopAutoThread() override;
  void SendCommand(int id, int lParam) override;
  void PostCommand(int id) override;
  bool BrowseForDir(std::wstring* dir) override;
  void ShellOpen(const std::wstring& target) override;
  void OpenFolderAndSelect(const std::wstring& path) override;

 private:
  HWND m_window = nullptr;
  const ResumeProgress* m_progress = nullptr;
  ScopedKernelHandle m_itemMutex;
  CAutoContinue m_autoThread;
  // Read by the auto-continue thread; written on the window's thread only.
  std::shared_ptr<std::atomic<bool>> m_hasPending;
};
