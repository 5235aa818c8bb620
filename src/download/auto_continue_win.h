#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "base/scoped_win.h"

// The auto-continue thread: each time the item mutex comes free (the previous
// file has ended) it sends the download window WM_COMMAND 10 with lParam 5555,
// so the next file starts without a click. It is stopped through an event it
// waits on together with the mutex; it is never terminated, which could leave
// the item mutex abandoned and the next file silently unable to start.
class CAutoContinue {
  struct Context;

 public:
  CAutoContinue() = default;
  ~CAutoContinue();
  CAutoContinue(const CAutoContinue&) = delete;
  CAutoContinue& operator=(const CAutoContinue&) = delete;

  // `hasPending` is asked on the worker thread before each wait; the thread
  // ends when it answers false. Returns false when the thread is not started.
  bool Start(HANDLE itemMutex, HWND window, std::function<bool()> hasPending);
  // Ends the thread and waits for it, except when called from inside the
  // command the thread itself is sending: that thread then ends as soon as
  // the command returns.
  void Stop();
  // Drops the thread without touching it; it ends on its own once the list
  // is empty.
  void Forget();
  bool IsRunning() const;

  // Marks, on the window's thread, the handling of the command this thread
  // sent: a stop from inside it cannot wait for the thread (the thread waits
  // for the command), a stop from anywhere else must.
  class CommandScope {
   public:
    CommandScope(CAutoContinue& owner, bool fromThread);
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

   private:
    std::shared_ptr<Context> m_context;
  };

 private:
  // What one thread uses; it keeps its own reference, so a thread that is
  // forgotten or still finishing a command never reads freed state.
  struct Context {
    HANDLE itemMutex = nullptr;
    HWND window = nullptr;
    std::function<bool()> hasPending;
    ScopedKernelHandle stop;
    // Window thread only: depth of CommandScopes for this thread's command.
    int handling = 0;
  };
  static DWORD WINAPI ThreadMain(void* context);

  std::shared_ptr<Context> m_context;
  ScopedKernelHandle m_thread;
};
