#include "prompts/prompt_dlg_win.h"

#include <cwchar>
#include <vector>

#include "base/scoped_win.h"
#include "prompts/message_wrap.h"
#include "skin/html_url.h"
#include "skin/html_view_win.h"
#include "skin/skin_resource_ids.h"
#include "skin/skin_table_win.h"
#include "skin/som_platform_win.h"

const wchar_t kFeedbackForumPage[] = L"http://bbs.brenva.com/forum-62-1.html";

namespace {

constexpr DWORD kStyleVisibleAutoSize = 3;
constexpr UINT kShowNoActivate = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;  // 0x53
constexpr wchar_t kTitleMarkup[] = L"{&#color=0xffffff}提示";
constexpr COLORREF kFeedbackLinkColour = 0xFE8034;
constexpr COLORREF kFeedbackLinkHoverColour = 0x2B85FF;

}  // namespace

// ---- CPromptWindow ---------------------------------------------------------

CPromptWindow::CPromptWindow(PromptKind kind) : m_kind(kind), m_pBackground(&TheSkinTable().m_bmpPromptBackground) {}

CPromptWindow::~CPromptWindow() {
  // The window must not outlive the object its procedure calls into.
  if (IsWindow()) DestroyWindow();
}

CWndClassInfo CPromptWindow::GetWndClassInfo() const {
  CWndClassInfo info;
  info.name = L"SomPromptDlg";
  return info;
}

LRESULT CPromptWindow::OnCloseMessage(UINT, WPARAM, LPARAM, BOOL& handled) {
  if (m_kind == PromptKind::OlderVersion || m_kind == PromptKind::InitialFailed) {
    DestroyWindow();
    ::PostQuitMessage(0);
    m_bQuitPosted = true;
    return 0;
  }
  handled = FALSE;  // the default destroys it; OnFinalMessage then ends a modal run
  return 0;
}

LRESULT CPromptWindow::OnCreateMessage(UINT, WPARAM, LPARAM, BOOL&) {
  SkinTable& skin = TheSkinTable();
  m_btnClose.Create(this, kPromptIdClose, kStyleVisibleAutoSize);
  m_btnClose.SetImage(&skin.m_bmpClose);
  m_btnClose.SetPos(369, 16);
  m_btnCancel.Create(this, kPromptIdCancel, kStyleVisibleAutoSize);
  m_btnCancel.SetImage(&skin.m_bmpCloseLabel);
  m_btnCancel.SetPos(311, 158);
  m_title.Create(this, kPromptIdTitle, kStyleVisibleAutoSize);
  m_title.SetText(kTitleMarkup);
  m_title.SetFont(skin.GetFont(3));
  m_title.SetPos(42, 18);
  InitControls();
  ApplyRegion();
  return 0;
}

CSomBitmap* CPromptWindow::ActionImage() { return nullptr; }

void CPromptWindow::InitControls() {
  CSomBitmap* image = ActionImage();
  if (!image) return;
  m_btnAction.Create(this, kPromptIdAction, kStyleVisibleAutoSize);
  m_btnAction.SetImage(image);
  m_btnAction.SetPos(222, 158);
}

void CPromptWindow::ApplyRegion() { SetCutCornerRegion(m_hWnd, kPromptCornerCut); }

LRESULT CPromptWindow::OnCommandMessage(UINT, WPARAM wParam, LPARAM, BOOL&) {
  OnCommand(wParam);
  return 0;
}

void CPromptWindow::OnCommand(WPARAM wParam) {
  PromptCommandOutcome out = DecidePromptCommand(m_kind, wParam);
  if (out.result >= 0) m_nResult = out.result;
  if (out.requestFeedback) {
    HWND owner = m_hWndOwner ? m_hWndOwner : ::GetWindow(m_hWnd, GW_OWNER);
    if (owner) ::SendMessageW(owner, WM_COMMAND, kCmdFeedback, 0);
  }
  if (out.openPage || out.restartInitialization) OnAction(wParam);
  if (out.destroyWindow && IsWindow()) DestroyWindow();
  if (out.postQuit) EndMessageLoop();
}

void CPromptWindow::OnAction(WPARAM) {}

void CPromptWindow::EndMessageLoop() {
  if (m_bQuitPosted) return;
  m_bQuitPosted = true;
  ::PostQuitMessage(0);
}

void CPromptWindow::OnFinalMessage(HWND) {
  // Closed some other way (by the system, by its owner going away): the modal
  // loop must still end, with whatever result was set.
  if (m_bModal) EndMessageLoop();
}

LRESULT CPromptWindow::OnNcHitTest(UINT, WPARAM, LPARAM, BOOL&) { return HTCLIENT; }

LRESULT CPromptWindow::OnLButtonDownMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
  // Any press drags the prompt (it has no caption); the press closes it only
  // when released over a button.
  return PressOrDrag(*this, m_hWnd, msg, wParam, lParam);
}

void CPromptWindow::PaintBackground(SomDC dc, const SomRect*) {
  if (m_pBackground) m_pBackground->DrawFrame(dc, 0, 0, 0);
  TheSkinTable().m_bmpWarning.DrawFrame(dc, 14, 14, 0);
  PaintMessage(dc);
}

void CPromptWindow::PaintMessage(HDC hdc) {
  if (m_strMessage.empty()) return;
  LOGFONTW lf = {};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  ::wcscpy(lf.lfFaceName, L"宋体");
  lf.lfHeight = -12;
  ScopedGdiObject font(::CreateFontIndirectW(&lf));
  ScopedSelectObject selectFont(hdc, font.Get());
  int oldMode = ::SetBkMode(hdc, TRANSPARENT);

  RECT client;
  GetClientRect(&client);
  SIZE extent = {};
  ::GetTextExtentPoint32W(hdc, m_strMessage.c_str(), static_cast<int>(m_strMessage.size()), &extent);
  auto charWidth = [hdc](const wchar_t* chars, size_t count) {
    SIZE size = {};
    ::GetTextExtentPoint32W(hdc, chars, static_cast<int>(count), &size);
    return static_cast<int>(size.cx);
  };
  PromptMessageLayout layout =
      LayoutPromptMessage(m_strMessage, client.right, client.bottom, extent.cx, extent.cy, charWidth);
  for (const PromptTextCell& cell : layout.cells) {
    RECT rc = {cell.left, cell.top, cell.right, cell.bottom};
    // No prefix processing: an "&" in a message is a character like any other.
    ::DrawTextW(hdc, m_strMessage.c_str() + cell.first, static_cast<int>(cell.count), &rc, DT_NOPREFIX);
  }
  ::SetBkMode(hdc, oldMode);
}

// ---- The prompts -------------------------------------------------------------

CSomBitmap* CDirErrDlg::ActionImage() { return &TheSkinTable().m_bmpChangeDir; }

CDirOpenFailedDlg::CDirOpenFailedDlg() { SetMessage(L"打开目录失败，目录不存在或已损坏！"); }

CDownLoadFailedDlg::CDownLoadFailedDlg() : CPromptDlg(PromptKind::Action) {
  SetMessage(L"下载失败，更多帮助，请点击反馈按钮");
}
CSomBitmap* CDownLoadFailedDlg::ActionImage() { return &TheSkinTable().m_bmpFeedback; }

CFileCheckFailedDlg::CFileCheckFailedDlg() : CPromptDlg(PromptKind::FileCheckFailed) {
  SetMessage(L"文件安全校验失败，更多帮助，请");
}
CSomBitmap* CFileCheckFailedDlg::ActionImage() {
  return m_bAltAction ? &TheSkinTable().m_bmpDownloadAgain : &TheSkinTable().m_bmpContinue;
}
void CFileCheckFailedDlg::InitControls() {
  CPromptDlg::InitControls();
  wchar_t markup[96];
  std::swprintf(markup, sizeof(markup) / sizeof(markup[0]), L"{&#a=button:%d}{&#acolor=%d}点击反馈",
                kPromptIdFeedbackLink, static_cast<int>(kFeedbackLinkColour));
  m_linkFeedback.Create(this, kPromptIdFeedbackLink, kStyleVisibleAutoSize);
  m_linkFeedback.SetText(markup);
  m_linkFeedback.SetFont(TheSkinTable().GetFont(14));
  m_linkFeedback.SetLinkColors(kFeedbackLinkColour, kFeedbackLinkHoverColour);
  m_linkFeedback.SetTextColor(kFeedbackLinkColour);
  m_linkFeedback.SetPos(266, 91);
}

CFileDamagedDlg::CFileDamagedDlg() : CPromptDlg(PromptKind::Action) { SetMessage(L"下载文件被破坏，请重新下载!"); }
CSomBitmap* CFileDamagedDlg::ActionImage() { return &TheSkinTable().m_bmpDownloadAgain; }

CFileErrDlg::CFileErrDlg() : CPromptDlg(PromptKind::Action) { SetMessage(L"安装文件错误!点击继续打开文件目录。"); }
CSomBitmap* CFileErrDlg::ActionImage() { return &TheSkinTable().m_bmpContinue; }

CInitialFailedDlg::CInitialFailedDlg() : CPromptDlg(PromptKind::InitialFailed) {
  SetMessage(L"下载器初始化失败，请检测您的网络是否连接正常。可以点击重试，尝试再次初始化!");
}
CSomBitmap* CInitialFailedDlg::ActionImage() { return &TheSkinTable().m_bmpRetry; }
void CInitialFailedDlg::OnAction(WPARAM wParam) {
  if (wParam == kPromptIdAction && m_retry) m_retry();
}

COlderVersionDlg::COlderVersionDlg() : CPromptDlg(PromptKind::OlderVersion) {
  SetMessage(L"下载器版本过旧，请重新下载！");
}
CSomBitmap* COlderVersionDlg::ActionImage() { return &TheSkinTable().m_bmpDownload; }
void COlderVersionDlg::OnAction(WPARAM wParam) {
  if (wParam != kPromptIdAction) return;
  // NewVersionDownloaderLink comes from the server: web addresses only, and
  // "www.example.com/..." is one.
  std::wstring page = m_strUrl.empty() ? std::wstring(kFeedbackForumPage) : m_strUrl;
  const std::wstring address = ShellWebAddress(page);
  if (!address.empty()) page = address;
  if (m_opener)
    m_opener(page.c_str());
  else
    OpenUrlExternally(page.c_str());
}

CInstallGameDlg::CInstallGameDlg() : CPromptWindow(PromptKind::Action) {}

void CInstallGameDlg::SetGameName(const wchar_t* name) {
  m_strMessage = name ? name : L"";
  m_strMessage += L"下载完成，是否立即安装？";
}

CSomBitmap* CInstallGameDlg::ActionImage() { return &TheSkinTable().m_bmpInstallNow; }

void CInstallGameDlg::ShowForModalRun() {
  bool fullScreen = m_fullScreenTest && m_fullScreenTest();
  ::SetWindowPos(m_hWnd, fullScreen ? HWND_BOTTOM : HWND_TOP, 0, 0, 0, 0, kShowNoActivate);
}

// ---- Running them ------------------------------------------------------------

int RunPromptModal(CPromptWindow& prompt, HWND owner) {
  prompt.m_nResult = PromptResultNone;
  prompt.m_bQuitPosted = false;
  prompt.m_hWndOwner = owner;
  RECT rect = {0, 0, kPromptWidth, kPromptHeight};
  if (!prompt.Create(owner, rect, prompt.CreationTitle(), prompt.CreationStyle())) return PromptResultNone;
  prompt.m_bModal = true;
  prompt.CenterWindow(owner);
  prompt.ShowForModalRun();
  if (owner) ::EnableWindow(owner, FALSE);

  MSG msg = {};
  for (;;) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  const bool quitWasOurs = prompt.m_bQuitPosted;

  if (owner) {
    ::EnableWindow(owner, TRUE);
    ::SetForegroundWindow(owner);
  }
  // A prompt that ended its loop but kept its window (any other command)
  // must not leave a window behind that calls into a finished object.
  prompt.m_bModal = false;
  if (prompt.IsWindow()) prompt.DestroyWindow();
  // Someone else asked the thread to quit while the prompt ran: pass it on
  // to the outer loop instead of swallowing it.
  if (!quitWasOurs) ::PostQuitMessage(static_cast<int>(msg.wParam));
  return prompt.m_nResult;
}

HWND ShowModelessPrompt(CPromptWindow& prompt, const wchar_t* gameName) {
  wchar_t title[160];
  std::swprintf(title, sizeof(title) / sizeof(title[0]), L"Brenva网游戏下载器-%ls专版", gameName ? gameName : L"");
  RECT rect = {0, 0, kPromptWidth, kPromptHeight};
  HWND hwnd = prompt.Create(nullptr, rect, title, WS_POPUP | WS_VISIBLE);
  if (hwnd) prompt.CenterWindow(nullptr);
  return hwnd;
}
