#pragma once

#include <string>

#include "download/download_ids.h"
#include "prompts/prompt_result.h"

// What the driver asks of the download window. Every call of these three
// interfaces comes from the window's own thread.

// What the window shows.
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

// The prompts; each runs its own message loop and returns its PromptResult.
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
  // The window's own command handler, run before this returns.
  virtual void SendCommand(int id, int lParam) = 0;
  // The window's own command handler, run once its message loop takes it.
  virtual void PostCommand(int id) = 0;
  // Folder dialog; false when cancelled.
  virtual bool BrowseForDir(std::wstring* dir) = 0;
  virtual void ShellOpen(const std::wstring& target) = 0;
  virtual void OpenFolderAndSelect(const std::wstring& path) = 0;

 protected:
  ~IDownloadHost() = default;
};

// All three in one object (the tests' fake window).
class IDownloadWindow : public IDownloadView, public IDownloadPrompts, public IDownloadHost {
 protected:
  ~IDownloadWindow() = default;
};
