#pragma once

#include <windows.h>

#include <shobjidl.h>

#include "base/scoped_win.h"
#include "download/taskbar_progress.h"

// The download window's progress on its taskbar button, through the shell's
// ITaskbarList3. The shell sends ButtonCreatedMessage() once the button
// exists (again after the shell restarts); until then, and on systems
// without the interface, showing does nothing but remember.
class CTaskbarProgress {
 public:
  static UINT ButtonCreatedMessage();

  // `list`: a stand-in for tests; null takes the system's (CLSID_TaskbarList).
  void OnButtonCreated(HWND window, ITaskbarList3* list = nullptr);
  // From the window's mode and progress; the shell hears only of changes.
  void Show(int mode, int percent);

 private:
  void Apply();

  HWND m_window = nullptr;
  ComPtr<ITaskbarList3> m_list;
  TaskbarShow m_wanted;
  TaskbarShow m_shown;
  bool m_fresh = true;  // nothing shown on this button yet
};
