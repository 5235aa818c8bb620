#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "download/download_driver.h"
#include "download/download_engine.h"
#include "download/download_host_win.h"
#include "download/download_platform_win.h"
#include "download/full_screen_watch.h"
#include "download/peer_sharing.h"
#include "download/speed_cap_choice.h"
#include "download/taskbar_progress_win.h"
#include "prompts/download_prompts_win.h"
#include "skin/html_default_web_wnd_win.h"
#include "skin/html_view_win.h"
#include "skin/som_bitmap_win.h"
#include "skin/som_button.h"
#include "skin/som_progress_win.h"
#include "skin/som_text_wnd.h"
#include "skin/som_wnd_manager.h"
#include "ui/window_win.h"

// Messages and ids of the download window that other parts of the program
// (and the tests) rely on.
constexpr int kDownloadWindowWidth = 679;
constexpr int kDownloadWindowHeight = 419;
// The layered window's colour key: pixels of the background in this colour
// are holes.
constexpr COLORREF kDownloadColourKey = RGB(0, 255, 255);
// The smallest fetched skin picture that fills the window.
constexpr int kMinBackgroundWidth = 680;
constexpr int kMinBackgroundHeight = 420;

extern const wchar_t kPortalHomePage[];

// The download window: the program's main screen once initialization has
// succeeded. The initialization window makes it on the heap and forgets it;
// it lives until the player chooses "关闭" in the notification-area menu.
// Its window class is named after the game key, so that a second start of
// the program finds it and sends it kCmdActivate. It is the driver's view;
// its prompt and host adapters are the driver's prompts and host.
class CDLDlg : public CWindowBase, public CSomWndManager, public IDownloadView {
 public:
  // The built-in background (PNG resource 105).
  CDLDlg();
  // The fetched skin picture as background when it decodes to at least
  // 680 x 420 pixels; otherwise the built-in one.
  explicit CDLDlg(const std::wstring& backgroundPicture);
  ~CDLDlg() override;

  BEGIN_MSG_MAP(CDLDlg)
  MESSAGE_HANDLER(WM_CREATE, OnCreateMessage)
  MESSAGE_HANDLER(WM_TIMER, OnTimerMessage)
  MESSAGE_HANDLER(WM_CLOSE, OnCloseMessage)
  MESSAGE_HANDLER(WM_NCHITTEST, OnNcHitTest)
  MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDownMessage)
  MESSAGE_HANDLER(WM_SIZE, OnSizeMessage)
  MESSAGE_HANDLER(WM_COMMAND, OnCommandMessage)
  MESSAGE_HANDLER(kTrayCallbackMessage, OnTrayMessage)
  MESSAGE_HANDLER(WM_WEBNAVERROR, OnWebNavError)
  MESSAGE_HANDLER(CTaskbarProgress::ButtonCreatedMessage(), OnTaskbarButtonCreated)
  CHAIN_MSG_MAP(CSomWndManager)
  END_MSG_MAP()

  void PaintBackground(SomDC dc, const SomRect* rect) override;

  // Which action button is shown (0 to 4), for the window's own use and tests.
  int Mode() const { return m_mode; }
  CDownloadDriver& Driver() { return *m_driver; }

 protected:
  CWndClassInfo GetWndClassInfo() const override;
  void OnFinalMessage(HWND hwnd) override;

 private:
  void Construct();
  LRESULT OnCreateMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnTimerMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnCloseMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnLButtonDownMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnSizeMessage(UINT, WPARAM, LPARAM, BOOL&) { return 0; }
  LRESULT OnCommandMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnTrayMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnTaskbarButtonCreated(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnWebNavError(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

  void ShapeWindow();
  void CreateElements();
  void CreateWebView();
  void ShowStandByPicture();
  void OnCommand(WORD id, LPARAM lParam);
  void AddTrayIcon();
  void DeleteTrayIcon();
  void Activate();
  void ShowTrayMenu();
  void CloseProgram();
  void OpenUrl(const std::wstring& url);
  // Tells the auto-continue thread whether files remain.
  void SyncPending();

  // IDownloadView
  void SetMode(int mode) override;
  void SetProgress(int percent) override;
  void SetSizesText(const std::wstring& text) override;
  void SetSpeedText(const std::wstring& text) override;
  void ShowSaveDir(const std::wstring& dir, bool accepted) override;
  bool IsCompanionChecked() override;
  void SetCompanionChecked(bool checked) override;
  void EnableCompanionCheckBox(bool enable) override;

  CTextProgress m_progress;
  CSomButton4 m_btnClose;
  CSomButton4 m_btnMinimize;
  CSomButton4 m_btnFeedback;
  CSomButton4 m_btnDownload;
  CSomButton4 m_btnContinue;
  CSomButton4 m_btnRedownload;
  CSomButton4 m_btnPause;
  CSomButton4 m_btnInstall;
  CSomTextWnd m_linkOpen;
  CSomTextWnd m_linkChange;
  CSomBitmap m_bmpCheckBox;
  CSomBitmap m_bmpDownload;
  CSomBitmap m_bmpContinue;
  CSomBitmap m_bmpPause;
  CSomBitmap m_bmpInstall;
  CSomBitmap m_bmpRedownload;
  std::wstring m_backgroundPath;  // kept alive for the bitmap that loads it
  std::unique_ptr<CSomBitmap> m_background;
  CSomTextWnd m_title;
  CSomCheckBox m_chkGardbox;
  CSomTextWnd m_lblGardbox;
  CSomTextWnd m_lblPath;
  CSomTextWnd m_lblProgressCaption;
  CSomTextWnd m_lblSpeed;
  CSomTextWnd m_lblPathCaption;
  CSomHtmlView m_web;
  CDefaultWebWnd m_defaultPage;
  CSomTextWnd m_promotion;
  CSomTextWnd m_lblVersion;

  std::wstring m_className;
  std::wstring m_gameName;
  int m_mode = -1;
  bool m_closing = false;
  bool m_trayIconAdded = false;
  CDownloadHostWin m_host;
  CDownloadPromptsWin m_prompts;
  CManagerEngine m_engine;
  CWinDiskSystem m_disk;
  CStatsReportSink m_reports;
  std::unique_ptr<CDownloadDriver> m_driver;
  std::unique_ptr<CPeerSharingChoice> m_sharing;
  CFullScreenWatch m_fullScreen{&IsFullScreenAppActive};
  std::unique_ptr<CServePause> m_servePause;
  std::unique_ptr<CSpeedCapChoice> m_speedCap;
  std::unique_ptr<CStepAsideChoice> m_stepAside;
  CTaskbarProgress m_taskbar;
  int m_percent = 0;
  uint64_t m_speed = 0;  // the game's speed at the last poll, while downloading
};
