#include "ui/message_loop_win.h"

#include <algorithm>

void CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) {
  m_filters.erase(std::remove(m_filters.begin(), m_filters.end(), filter), m_filters.end());
}

bool CMessageLoop::PreTranslate(MSG* msg) {
  // Filters may add or remove filters while they run, so walk a copy.
  std::vector<CMessageFilter*> filters = m_filters;
  for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
    if ((*it)->PreTranslateMessage(msg)) return true;
  }
  return false;
}

int CMessageLoop::Run() {
  MSG msg{};
  for (;;) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (PreTranslate(&msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

bool CMessageLoop::RunUntil(const std::function<bool()>& done) {
  MSG msg{};
  while (!done()) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) return false;
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (PreTranslate(&msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return true;
}
