#include "download/auto_continue_win.h"

#include "download/download_driver.h"

CAutoContinue::~CAutoContinue() { Stop(); }

bool CAutoContinue::Start(HANDLE itemMutex, HWND window, std::function<bool()> hasPending) {
  if (IsRunning()) return true;
  Forget();
  auto context = std::make_shared<Context>();
  context->itemMutex = itemMutex;
  context->window = window;
  context->hasPending = std::move(hasPending);
  context->stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!context->stop) return false;
  auto* threadRef = new std::shared_ptr<Context>(context);
  m_thread.Reset(::CreateThread(nullptr, 0, &CAutoContinue::ThreadMain, threadRef, 0, nullptr));
  if (!m_thread) {
    delete threadRef;
    return false;
  }
  m_context = std::move(context);
  return true;
}

DWORD WINAPI CAutoContinue::ThreadMain(void* param) {
  const std::unique_ptr<std::shared_ptr<Context>> ref(static_cast<std::shared_ptr<Context>*>(param));
  Context& c = **ref;
  const HANDLE waits[2] = {c.stop.Get(), c.itemMutex};
  auto stopped = [&c] { return ::WaitForSingleObject(c.stop.Get(), 0) == WAIT_OBJECT_0; };
  while (c.hasPending()) {
    const DWORD got = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (got != WAIT_OBJECT_0 + 1 && got != WAIT_ABANDONED_0 + 1) break;
    ::ReleaseMutex(c.itemMutex);
    if (stopped()) break;
    ::SendMessageW(c.window, WM_COMMAND, kCmdDownload, kAutoContinueParam);
    if (stopped()) break;
  }
  return 0;
}

void CAutoContinue::Stop() {
  if (!m_thread || !m_context) return;
  ::SetEvent(m_context->stop.Get());
  // Only the handler of the very command the thread is sending may skip the
  // wait. Elsewhere the thread may be blocked sending one: answering it here
  // runs it now, while waiting, rather than after this stop has returned.
  const bool calledFromItsCommand = m_context->handling > 0;
  if (!calledFromItsCommand) {
    // Keep answering sent messages: the thread may be handing one over now.
    const HANDLE thread = m_thread.Get();
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  // Otherwise waiting would wait for ourselves; the thread sees the event as
  // soon as the command returns.
  Forget();
}

void CAutoContinue::Forget() {
  m_thread.Reset();
  m_context.reset();
}

bool CAutoContinue::IsRunning() const {
  return m_thread.Valid() && ::WaitForSingleObject(m_thread.Get(), 0) == WAIT_TIMEOUT;
}

CAutoContinue::CommandScope::CommandScope(CAutoContinue& owner, bool fromThread) {
  if (fromThread && owner.m_context) {
    m_context = owner.m_context;
    ++m_context->handling;
  }
}

CAutoContinue::CommandScope::~CommandScope() {
  if (m_context) --m_context->handling;
}
