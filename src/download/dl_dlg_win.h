#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/scoped_win.h"
#include "config/game_file_entry.h"
#include "download/auto_continue_win.h"
#include "download/download_driver.h"
#include "download/download_engine.h"
#include "download/download_platform_win.h"
#include "download/peer_sharing.h"
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
// the program finds it and sends it command 2025.
class CDLDlg : public CWindowBase, public CSomWndManager, public IDownloadWindow {
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
  // Mirrors the driver's download values into the process-wide ones.
  void SyncProcessValues();
  template <typename Prompt>
  int RunPrompt(Prompt& prompt);

  // IDownloadView
  void SetMode(int mode) override;
  void SetProgress(int percent) override;
  void SetSizesText(const std::wstring& text) override;
  void SetSpeedText(const std::wstring& text) override;
  void ShowSaveDir(const std::wstring& dir, bool accepted) override;
  bool IsCompanionChecked() override;
  void SetCompanionChecked(bool checked) override;
  void EnableCompanionCheckBox(bool enable) override;
  // IDownloadPrompts
  int ShowDirError(const std::wstring& message) override;
  int ShowDownloadFailedPrompt() override;
  int ShowFileCheckFailedPrompt(bool moreFiles) override;
  int ShowInstallPrompt() override;
  int ShowFileErrPrompt() override;
  int ShowFileDamagedPrompt() override;
  void ShowDirOpenFailedPrompt() override;
  // IDownloadHost
  void* NotifyWindow() override { return m_hWnd; }
  void SetTimer(int id) override;
  void KillTimer(int id) override;
  bool IsInternetConnected() override;
  bool IsCompanionMutexTaken() override;
  void RunCompanionInstaller(const std::wstring& path) override;
  bool WaitItemMutex() override;
  void ReleaseItemMutex() override;
  bool IsAutoThreadRunning() override;
  void StartAutoThread() override;
  void StopAutoThread() override;
  void SendCommand(int id, int lParam) override;
  void PostCommand(int id) override;
  bool BrowseForDir(std::wstring* dir) override;
  void ShellOpen(const std::wstring& target) override;
  void OpenFolderAndSelect(const std::wstring& path) override;

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
  // Prompts of this window whose loops are running (they nest).
  int m_promptDepth = 0;
  bool m_closing = false;
  bool m_trayIconAdded = false;
  ScopedKernelHandle m_itemMutex;
  CAutoContinue m_autoThread;
  // Read by the auto-continue thread; written on the window's thread only.
  std::shared_ptr<std::atomic<bool>> m_hasPending;
  CManagerEngine m_engine;
  CWinDiskSystem m_disk;
  CStatsReportSink m_reports;
  std::unique_ptr<CDownloadDriver> m_driver;
  std::unique_ptr<CPeerSharingChoice> m_sharing;
  std::unique_ptr<CServePause> m_servePause;
};
