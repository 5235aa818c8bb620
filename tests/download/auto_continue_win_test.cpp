#include "download/auto_continue_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "download/download_driver.h"
#include "support/test_window_win.h"

namespace {

// A message-only window on the test thread standing in for the download window.
struct Target {
  int commands = 0;
  std::function<void()> onCommand;
  CAutoContinue* owner = nullptr;  // marks its command as the window does
  TestWindow host{[this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (msg != WM_COMMAND || wParam != kCmdDownload || lParam != kAutoContinueParam) return false;
    ++commands;
    *result = 0;
    if (!owner) {
      if (onCommand) onCommand();
      return true;
    }
    const CAutoContinue::CommandScope scope(*owner, ::InSendMessage() != FALSE);
    if (onCommand) onCommand();
    return true;
  }};
  HWND window = host.Get();

  // Answers sent messages until `done` or the time runs out.
  bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000) { return TestWindow::PumpUntil(done, ms); }
};

struct ProbeArgs {
  HANDLE mutex;
  DWORD got;
};

DWORD WINAPI TakeMutexOnce(void* param) {
  auto* args = static_cast<ProbeArgs*>(param);
  args->got = ::WaitForSingleObject(args->mutex, 1000);
  ::ReleaseMutex(args->mutex);
  return 0;
}

TEST(AutoContinueTest, SendsTheNextFileCommandEachTimeTheItemMutexComesFree) {
  Target target;
  ScopedKernelHandle itemMutex(::CreateMutexW(nullptr, FALSE, nullptr));
  ASSERT_EQ(::WaitForSingleObject(itemMutex.Get(), 0), WAIT_OBJECT_0);  // file 1 downloading
  std::atomic<int> pending{3};
  // Each command starts the next file: it takes the item mutex again.
  target.onCommand = [&] {
    --pending;
    if (pending > 0) ::WaitForSingleObject(itemMutex.Get(), 0);
  };

  CAutoContinue thread;
  ASSERT_TRUE(thread.Start(itemMutex.Get(), target.window, [&] { return pending > 0; }));
  EXPECT_TRUE(thread.IsRunning());
  target.PumpUntil([] { return false; }, 200);
  EXPECT_EQ(target.commands, 0) << "nothing while a file is downloading";

  --pending;  // file 1 ends
  ::ReleaseMutex(itemMutex.Get());
  ASSERT_TRUE(target.PumpUntil([&] { return target.commands == 1; }));
  ::ReleaseMutex(itemMutex.Get());  // file 2 ends
  ASSERT_TRUE(target.PumpUntil([&] { return target.commands == 2; }));
  ASSERT_TRUE(target.PumpUntil([&] { return !thread.IsRunning(); })) << "the list is done";
  EXPECT_EQ(target.commands, 2);
}

TEST(AutoContinueTest, StopEndsAWaitingThreadAndLeavesTheMutexUsable) {
  Target target;
  ScopedKernelHandle itemMutex(::CreateMutexW(nullptr, FALSE, nullptr));
  ASSERT_EQ(::WaitForSingleObject(itemMutex.Get(), 0), WAIT_OBJECT_0);
  CAutoContinue thread;
  ASSERT_TRUE(thread.Start(itemMutex.Get(), target.window, [] { return true; }));
  thread.Stop();
  EXPECT_FALSE(thread.IsRunning());
  ::ReleaseMutex(itemMutex.Get());
  target.PumpUntil([] { return false; }, 100);
  EXPECT_EQ(target.commands, 0);

  // Another thread can take the mutex normally: it was not left abandoned.
  ProbeArgs args{itemMutex.Get(), WAIT_FAILED};
  HANDLE probe = ::CreateThread(nullptr, 0, &TakeMutexOnce, &args, 0, nullptr);
  ::WaitForSingleObject(probe, 5000);
  ::CloseHandle(probe);
  EXPECT_EQ(args.got, static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(AutoContinueTest, StopFromInsideItsOwnCommandDoesNotDeadlock) {
  Target target;
  ScopedKernelHandle itemMutex(::CreateMutexW(nullptr, FALSE, nullptr));
  CAutoContinue thread;
  target.owner = &thread;
  target.onCommand = [&] { thread.Stop(); };  // as the download-failed prompt does
  ASSERT_TRUE(thread.Start(itemMutex.Get(), target.window, [] { return true; }));
  ASSERT_TRUE(target.PumpUntil([&] { return target.commands == 1; }));
  EXPECT_FALSE(thread.IsRunning());
  target.PumpUntil([] { return false; }, 200);
  EXPECT_EQ(target.commands, 1) << "no command after the stop";
}

TEST(AutoContinueTest, StopFromAnotherHandlerLeavesNoCommandForAfterwards) {
  Target target;
  ScopedKernelHandle itemMutex(::CreateMutexW(nullptr, FALSE, nullptr));
  CAutoContinue thread;
  target.owner = &thread;
  ASSERT_TRUE(thread.Start(itemMutex.Get(), target.window, [] { return true; }));
  // The window is busy elsewhere (a pause, the tray's close): the thread
  // blocks sending its command.
  ::Sleep(300);
  thread.Stop();
  const int atStop = target.commands;
  target.PumpUntil([] { return false; }, 300);
  EXPECT_EQ(target.commands, atStop) << "a command ran after the stop had returned";
}

}  // namespace
