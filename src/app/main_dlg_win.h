#pragma once

// The small skinned window the player sees first: "正在初始化..." and a bar
// while a worker fetches the game's configuration and skin picture, then the
// hand-over to the download window or to one of two prompts. Its message
// filter keeps Enter and Escape away from every window of the program.
#include <windows.h>

#include <vector>

#include "config/downloader_config.h"
#include "config/game_file_entry.h"
#include "skin/som_bitmap.h"
#include "skin/som_button.h"
#include "skin/som_progress_win.h"
#include "skin/som_text_wnd.h"
#include "skin/som_wnd_manager.h"
#include "ui/message_loop_win.h"
#include "ui/window_win.h"

class CMainDlg : public CWindowBase, public CSomWndManager, public CMessageFilter {
 public:
  static constexpr UINT_PTR IDT_INIT_PROGRESS = 10000;
  static constexpr UINT kInitProgressPeriodMs = 10;
  // The class every initialization window is made with, so that tests and
  // the program's own parts can find it.
  static constexpr const wchar_t* kClassName = L"GdMainDlg";

  CMainDlg();
  ~CMainDlg() override;

  BEGIN_MSG_MAP(CMainDlg)
  MESSAGE_HANDLER(WM_SIZE, OnSize)
  MESSAGE_HANDLER(WM_CREATE, OnCreate)
  MESSAGE_HANDLER(WM_TIMER, OnTimer)
  MESSAGE_HANDLER(WM_CLOSE, OnClose)
  MESSAGE_HANDLER(kInitNotifyMessage, OnInitNotify)
  MESSAGE_HANDLER(WM_NCHITTEST, OnNcHitTest)
  MESSAGE_HANDLER(WM_COMMAND, OnCommand)
  CHAIN_MSG_MAP(CSomWndManager)
  END_MSG_MAP()

  bool PreTranslateMessage(MSG* msg) override;
  void PaintBackground(SomDC dc, const SomRect* rect) override;

  int GetProgress() const { return m_nProgress; }
  int GetInitResult() const { return m_nInitResult; }

 protected:
  CWndClassInfo GetWndClassInfo() const override;

 private:
  LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnInitNotify(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

  void CreateElements();
  void ApplyRegion();
  void StartWorker();
  void OnInitFinished(int result);
  void EvaluateResult();
  void CloseProgram();

  CSomButton4 m_btnClose;
  CGardBoxProgress m_progress;
  int m_nProgress = 0;
  CSomTextWnd m_title;
  CSomTextWnd m_status;
  CSomBitmap m_bmpBackground;
  int m_nInitResult = -1;
  std::vector<GameFileEntry> m_files;  // the configuration's list, once fetched
};

// Places the program's shortcut on the desktop, replacing one of the same
// name. Failures are silent.
void CreateDesktopShortcut();
