#pragma once

// The skinned prompts that stand in for system message boxes: a 404 × 201
// window with a title band, close cross, wrapped message, a 关闭 button and in
// most of them a third button that says what it does.
#include <windows.h>

#include <functional>
#include <string>

#include "prompts/prompt_command.h"
#include "skin/som_bitmap_win.h"
#include "skin/som_button.h"
#include "skin/som_text_wnd.h"
#include "skin/som_wnd_manager.h"
#include "ui/window_win.h"

constexpr int kPromptWidth = 404;
constexpr int kPromptHeight = 201;
constexpr int kPromptCornerCut = 9;
// Where 下载 of the older-version prompt goes when no page was given.
extern const wchar_t kFeedbackForumPage[];

// What CPromptDlg and CInstallGameDlg share: layout, painting, commands and
// the modal run. Not a prompt of its own.
class CPromptWindow : public CWindowBase, public CSomWndManager {
 public:
  explicit CPromptWindow(PromptKind kind);
  ~CPromptWindow() override;

  // Before the window is created.
  void SetMessage(const wchar_t* text) { m_strMessage = text ? text : L""; }
  const std::wstring& GetMessage() const { return m_strMessage; }
  int GetResult() const { return m_nResult; }
  PromptKind Kind() const { return m_kind; }

  BEGIN_MSG_MAP(CPromptWindow)
  MESSAGE_HANDLER(WM_CLOSE, OnCloseMessage)
  MESSAGE_HANDLER(WM_CREATE, OnCreateMessage)
  MESSAGE_HANDLER(WM_COMMAND, OnCommandMessage)
  MESSAGE_HANDLER(WM_NCHITTEST, OnNcHitTest)
  MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDownMessage)
  CHAIN_MSG_MAP(CSomWndManager)
  END_MSG_MAP()

  virtual void OnCommand(WPARAM wParam);
  virtual void OnAction(WPARAM wParam);
  virtual void InitControls();
  virtual void ApplyRegion();
  virtual void PaintMessage(HDC hdc);
  void PaintBackground(SomDC dc, const SomRect* rect) override;

  // How RunPromptModal creates it.
  virtual DWORD CreationStyle() const { return WS_POPUP | WS_VISIBLE; }
  virtual const wchar_t* CreationTitle() const { return nullptr; }
  // The install prompt is shown without activation (and below a full-screen
  // program); the others are shown by their style.
  virtual void ShowForModalRun() {}

 protected:
  CWndClassInfo GetWndClassInfo() const override;
  void OnFinalMessage(HWND hwnd) override;
  // Image of the third button; null for none.
  virtual CSomBitmap* ActionImage();
  void EndMessageLoop();

  LRESULT OnCloseMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnCreateMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnCommandMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnLButtonDownMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

  friend int RunPromptModal(CPromptWindow& prompt, HWND owner);

  PromptKind m_kind;
  std::wstring m_strMessage;
  CSomBitmap* m_pBackground;
  CSomButton4 m_btnClose;
  CMySomButton4 m_btnCancel;
  CSomButton4 m_btnAction;
  int m_nResult = PromptResultNone;
  CSomTextWnd m_title;
  HWND m_hWndOwner = nullptr;
  bool m_bModal = false;
  bool m_bQuitPosted = false;
};

class CPromptDlg : public CPromptWindow {
 public:
  explicit CPromptDlg(PromptKind kind = PromptKind::NoAction) : CPromptWindow(kind) {}

 protected:
  BOOL m_bAltAction = FALSE;
};

class CDirErrDlg : public CPromptDlg {
 public:
  CDirErrDlg() : CPromptDlg(PromptKind::Action) {}

 protected:
  CSomBitmap* ActionImage() override;
};

class CDirOpenFailedDlg : public CPromptDlg {
 public:
  CDirOpenFailedDlg();
};

class CDownLoadFailedDlg : public CPromptDlg {
 public:
  CDownLoadFailedDlg();

 protected:
  CSomBitmap* ActionImage() override;
};

class CFileCheckFailedDlg : public CPromptDlg {
 public:
  CFileCheckFailedDlg();
  // 重新下载 instead of 继续; before the window is created.
  void SetAltAction(BOOL on) { m_bAltAction = on; }

  void InitControls() override;

 protected:
  CSomBitmap* ActionImage() override;
  CSomTextWnd m_linkFeedback;
};

class CFileDamagedDlg : public CPromptDlg {
 public:
  CFileDamagedDlg();

 protected:
  CSomBitmap* ActionImage() override;
};

class CFileErrDlg : public CPromptDlg {
 public:
  CFileErrDlg();

 protected:
  CSomBitmap* ActionImage() override;
};

// Shown without owner by the start-up window; its quit message ends the
// program, except after 重试, which hands over to a new start-up window.
class CInitialFailedDlg : public CPromptDlg {
 public:
  CInitialFailedDlg();
  // Makes the new start-up window (and drops the old one).
  void SetRetryHandler(std::function<void()> retry) { m_retry = std::move(retry); }
  void OnAction(WPARAM wParam) override;

 protected:
  CSomBitmap* ActionImage() override;
  std::function<void()> m_retry;
};

class COlderVersionDlg : public CPromptDlg {
 public:
  COlderVersionDlg();
  void SetUrl(const wchar_t* url) { m_strUrl = url ? url : L""; }
  // Tests replace the shell.
  void SetPageOpener(std::function<void(const wchar_t*)> opener) { m_opener = std::move(opener); }
  void OnAction(WPARAM wParam) override;

 protected:
  CSomBitmap* ActionImage() override;
  std::wstring m_strUrl;
  std::function<void(const wchar_t*)> m_opener;
};

// The question after the last file: a prompt of its own, created hidden with
// the title "DownloadFinished" and shown without taking the focus.
class CInstallGameDlg : public CPromptWindow {
 public:
  CInstallGameDlg();
  // "%s下载完成，是否立即安装？" with the game's name.
  void SetGameName(const wchar_t* name);
  // Whether another program fills the screen; the prompt then stays beneath it.
  void SetFullScreenTest(bool (*test)()) { m_fullScreenTest = test; }

  DWORD CreationStyle() const override { return WS_POPUP; }
  const wchar_t* CreationTitle() const override { return L"DownloadFinished"; }
  void ShowForModalRun() override;

 protected:
  CSomBitmap* ActionImage() override;
  bool (*m_fullScreenTest)() = nullptr;
};

// Runs a prompt as a modal window over `owner` and returns its result code
// (PromptResultNone when it ended without one).
int RunPromptModal(CPromptWindow& prompt, HWND owner);

// Shows the older-version or initialization-failed prompt as the program's
// own window, centred on the screen, titled with the game's name.
HWND ShowModelessPrompt(CPromptWindow& prompt, const wchar_t* gameName);
