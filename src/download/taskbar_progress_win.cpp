#include "download/taskbar_progress_win.h"

UINT CTaskbarProgress::ButtonCreatedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

void CTaskbarProgress::OnButtonCreated(HWND window, ITaskbarList3* list) {
  m_window = window;
  m_list.Reset();
  if (list) {
    list->AddRef();
    m_list.Reset(list);
  } else if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                       m_list.PutVoid()))) {
    return;
  }
  if (FAILED(m_list->HrInit())) {
    m_list.Reset();
    return;
  }
  m_fresh = true;
  Apply();
}

void CTaskbarProgress::Show(int mode, int percent) {
  m_wanted = TaskbarShowFor(mode, percent);
  Apply();
}

void CTaskbarProgress::Apply() {
  if (!m_list || (!m_fresh && m_wanted == m_shown)) return;
  static const TBPFLAG kFlags[] = {TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_PAUSED, TBPF_ERROR};
  if (m_fresh || m_wanted.state != m_shown.state)
    m_list->SetProgressState(m_window, kFlags[static_cast<int>(m_wanted.state)]);
  if (m_wanted.state != TaskbarState::kNone && (m_fresh || m_wanted.percent != m_shown.percent))
    m_list->SetProgressValue(m_window, static_cast<ULONGLONG>(m_wanted.percent), 100);
  m_shown = m_wanted;
  m_fresh = false;
}
