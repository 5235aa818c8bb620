#include "ui/message_loop_win.h"

#include <algorithm>

void CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) {
  m_filters.erase(std::remove(m_filters.begin(), m_filters.end(), filter), m_filters.end());
}

int CMessageLoop::Run() {
  MSG msg;
  for (;;) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    bool handled = false;
    // Filters may add or remove filters while they run, so walk a copy.
    std::vector<CMessageFilter*> filters = m_filters;
    for (auto it = filters.rbegin(); it != filters.rend() && !handled; ++it) handled = (*it)->PreTranslateMessage(&msg);
    if (handled) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
