#pragma once

// A window whose commands reach the driver as the real one's do, with a
// deterministic stand-in for the auto-continue thread: it moves only when
// told to (ThreadStep), and inside a prompt's loop when `threadInPrompts`
// says so, which is where the real thread's sent command can arrive too.
#include <functional>
#include <string>
#include <utility>

#include "download_fakes.h"

enum class PromptKind { DirError, DownloadFailed, FileCheck, Install, FileErr, Damaged, DirOpenFailed };

class LiveWindow : public FakeWindow {
 public:
  CDownloadDriver* driver = nullptr;

  enum class Thread { None, Waiting, Sending, Blocked };
  Thread thread = Thread::None;
  int generation = 0;      // a new number for every thread started
  int handling = 0;        // depth of the thread's own command being handled
  int threadCommands = 0;  // commands the thread delivered
  bool threadInPrompts = true;
  // Answers the prompts; by default the fields of FakeWindow.
  std::function<int(PromptKind)> answer;
  std::function<void(PromptKind, int)> onPrompt;  // seen after each answer

  // The first ask in a process creates the companion mutex; every later one
  // finds it there.
  bool IsCompanionMutexTaken() override {
    ++mutexChecks;
    const bool taken = companionMutexTaken;
    companionMutexTaken = true;
    return taken;
  }
  bool IsAutoThreadRunning() override { return thread != Thread::None; }
  void StartAutoThread() override {
    ++autoThreadStarts;
    if (thread != Thread::None) return;
    ++generation;
    thread = Thread::Waiting;
  }
  void StopAutoThread() override {
    ++autoThreadStops;
    if (thread == Thread::None) return;
    if (handling > 0) {
      // From inside its own command: the thread sees the stop once the
      // command returns.
      thread = Thread::None;
      ++generation;
      return;
    }
    // The stop answers a send under way before the thread can end.
    if (thread == Thread::Sending) {
      ++threadCommands;
      ++handling;
      driver->OnDownloadCommand(kAutoContinueParam);
      --handling;
    }
    thread = Thread::None;
    ++generation;
  }

  // One move of the thread; false when it cannot move now.
  bool ThreadStep() {
    if (thread == Thread::Waiting) {
      if (driver->Progress().pendingItems.empty()) {
        thread = Thread::None;
        return true;
      }
      if (mutexHeld != 0) return false;  // blocked on the item mutex
      thread = Thread::Sending;          // took it, let it go, now sends
      return true;
    }
    if (thread == Thread::Sending) {
      Deliver();
      return true;
    }
    return false;
  }
  void RunThread(int moves = 8) {
    for (int i = 0; i < moves && ThreadStep(); ++i) {
    }
  }

  void SendCommand(int id, int lParam) override {
    sent.emplace_back(id, lParam);
    if (!driver) return;
    if (id == kCmdDownload) driver->OnDownloadCommand(lParam);
    if (id == kCmdRedownload) driver->Redownload();
    if (id == kCmdOpenDir) driver->OpenSaveDir();
  }

  int ShowDirError(const std::wstring& message) override {
    dirErrors.push_back(message);
    return Prompt(PromptKind::DirError, dirErrorResult);
  }
  int ShowDownloadFailedPrompt() override {
    ++downloadFailedShown;
    return Prompt(PromptKind::DownloadFailed, downloadFailedResult);
  }
  int ShowFileCheckFailedPrompt(bool moreFiles) override {
    fileCheckShown.push_back(moreFiles);
    return Prompt(PromptKind::FileCheck, fileCheckResult);
  }
  int ShowInstallPrompt() override {
    ++installShown;
    return Prompt(PromptKind::Install, installResult);
  }
  int ShowFileErrPrompt() override {
    ++fileErrShown;
    return Prompt(PromptKind::FileErr, fileErrResult);
  }
  int ShowFileDamagedPrompt() override {
    ++damagedShown;
    return Prompt(PromptKind::Damaged, damagedResult);
  }
  void ShowDirOpenFailedPrompt() override {
    ++dirOpenFailedShown;
    Prompt(PromptKind::DirOpenFailed, 1);
  }

 private:
  void Deliver() {
    const int gen = generation;
    ++threadCommands;
    thread = Thread::Blocked;  // until the command returns
    ++handling;
    driver->OnDownloadCommand(kAutoContinueParam);
    --handling;
    if (generation == gen && thread == Thread::Blocked) thread = Thread::Waiting;
  }
  int Prompt(PromptKind kind, int fallback) {
    // The prompt's loop answers sent messages.
    if (threadInPrompts) RunThread();
    const int result = answer ? answer(kind) : fallback;
    if (onPrompt) onPrompt(kind, result);
    return result;
  }
};
