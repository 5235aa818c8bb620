#include "download/dl_dlg_win.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <type_traits>

#include "base/scoped_win.h"
#include "companion/companion_installer_win.h"
#include "config/downloader_config.h"
#include "download/peer_sharing.h"
#include "download/progress_text.h"
#include "engine/download_manager.h"
#include "net/http_download.h"
#include "prompts/prompt_dlg_win.h"
#include "skin/html_url.h"
#include "skin/html_view_win.h"
#include "skin/skin_resource_ids.h"
#include "skin/skin_table_win.h"
#include "skin/som_platform_win.h"
#include "state/resume_state_win.h"

const wchar_t kPortalHomePage[] = L"http://www.brenva.com/";

namespace {

constexpr DWORD kStyleVisibleAutoSize = CSomWnd::StyleVisible | CSomWnd::StyleAutoSize;
constexpr UINT kShowNoActivate = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
constexpr UINT kBrowseFlags = 81;  // file-system folders only, edit box, new dialog style
constexpr int kProgressCapWidth = 9;
constexpr COLORREF kOpenLinkColour = 16678964;
constexpr COLORREF kChangeLinkColour = 15518394;
constexpr COLORREF kPromotionColour = 89257;
constexpr RECT kWebRect = {20, 56, 660, 301};
constexpr POINT kWindowOutline[] = {{7, 0},     {286, 0},   {295, 10}, {671, 10}, {679, 19},
                                    {679, 411}, {671, 419}, {8, 419},  {0, 411},  {0, 0}};
// DWebBrowser host flags of the embedded page: no 3-D border, no scroll bars
// of its own, themed, no selection menu.
constexpr DWORD kDocHostFlags = 0x24009F;

// A text that sends WM_COMMAND `id` when clicked, drawn in `colour`.
std::wstring LinkMarkup(int id, COLORREF colour, const std::wstring& text) {
  wchar_t buffer[1024];
  std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"{&#a=button:%d}{&#acolor=%d}%ls", id,
                static_cast<int>(colour), text.c_str());
  return buffer;
}

std::wstring TempDir() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return WithTrailingBackslash(buffer);
}

DownloadSettings SettingsFromConfig() {
  CDownloaderConfig& config = DownloaderConfig();
  DownloadSettings settings;
  settings.fileList = config.GetFileList();
  settings.safecheck = config.GetSafecheck();
  settings.gameStart = config.GetGameStart();
  settings.companionLink = config.GetGardboxDownloaderLink();
  settings.tempDir = TempDir();
  settings.seedUrl = config.GetSeedUrl();
  return settings;
}

// The download-failed prompt stays below a full-screen program.
class CDownloadFailedBelowDlg : public CDownLoadFailedDlg {
 public:
  void ShowForModalRun() override {
    if (IsFullScreenAppActive()) ::SetWindowPos(m_hWnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  }
};

}  // namespace

CDLDlg::CDLDlg()
    : m_bmpCheckBox(static_cast<std::uintptr_t>(IDB_CHECKBOX), 9),
      m_bmpDownload(static_cast<std::uintptr_t>(IDB_BIG_DOWNLOAD), 3),
      m_bmpContinue(static_cast<std::uintptr_t>(IDB_BIG_CONTINUE), 3),
      m_bmpPause(static_cast<std::uintptr_t>(IDB_BIG_PAUSE), 3),
      m_bmpInstall(static_cast<std::uintptr_t>(IDB_BIG_INSTALL), 3),
      m_bmpRedownload(static_cast<std::uintptr_t>(IDB_BIG_DOWNLOAD_AGAIN), 3),
      m_chkGardbox(&m_bmpCheckBox, false),
      m_hasPending(std::make_shared<std::atomic<bool>>(false)),
      m_engine(CDownloadManager::Instance()),
      m_reports(DownloaderConfig().GetDomainName()) {
  Construct();
}

CDLDlg::CDLDlg(const std::wstring& backgroundPicture) : CDLDlg() {
  if (backgroundPicture.empty()) return;
  m_backgroundPath = backgroundPicture;
  auto picture = std::make_unique<CSomBitmap>(m_backgroundPath.c_str(), 1);
  // A picture smaller than the window would leave part of it unpainted (and,
  // where the colour key shows through, see-through): the built-in one then.
  if (picture->GetFrameWidth() >= kMinBackgroundWidth && picture->GetHeight() >= kMinBackgroundHeight) {
    m_background = std::move(picture);
  }
}

void CDLDlg::Construct() {
  // The pictures load through the skin's image services, installed at start-up.
  m_background = std::make_unique<CSomBitmap>(static_cast<std::uintptr_t>(IDB_DOWNLOAD_BACKGROUND), 1);
  m_className = DownloaderConfig().GetGameKey();
  if (m_className.empty()) m_className = L"GdDownloadWindow";
  m_gameName = DownloaderConfig().GetGameName();
  m_itemMutex.Reset(::CreateMutexW(nullptr, FALSE, nullptr));
  m_driver = std::make_unique<CDownloadDriver>(m_engine, *this, m_disk, m_disk, m_reports, ResumeState(),
                                               SettingsFromConfig());
  m_sharing = std::make_unique<CPeerSharingChoice>(ResumeState(), m_engine,
                                                   DownloaderConfig().IsPeerSharingAllowed());
  m_servePause = std::make_unique<CServePause>(m_engine);
}

CDLDlg::~CDLDlg() {
  m_autoThread.Stop();
  // Deleted with its window still there: the window must let go of this
  // object first, or its final message would delete it a second time.
  if (m_hWnd && ::IsWindow(m_hWnd)) {
    const HWND hwnd = m_hWnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    m_hWnd = nullptr;
    ::DestroyWindow(hwnd);
  }
}

CWndClassInfo CDLDlg::GetWndClassInfo() const {
  CWndClassInfo info;
  info.name = m_className.c_str();
  return info;
}

void CDLDlg::OnFinalMessage(HWND) {
  // "关闭" chosen while a prompt of this window runs its loop: that loop and
  // the handler under it still return into this object, so it must outlive
  // them. The quit is already posted; the process ends right after.
  if (m_promptDepth > 0) return;
  // Made on the heap by the initialization window, which keeps no pointer.
  delete this;
}

void CDLDlg::PaintBackground(SomDC dc, const SomRect*) {
  if (m_background) m_background->DrawFrame(dc, 0, 0, 0);
}

// ---- Start-up ----------------------------------------------------------------

LRESULT CDLDlg::OnCreateMessage(UINT, WPARAM, LPARAM, BOOL& handled) {
  // The element manager has to see WM_CREATE too.
  handled = FALSE;
  ShapeWindow();
  CreateElements();
  CreateWebView();
  SetMode(ModeReady);

  if (m_engine.IsLoaded()) m_driver->StartEngine();
  CDownloaderConfig& config = DownloaderConfig();
  const int code =
      DetectResumeState(ResumeState(), m_disk, config.GetFileList(), config.GetSafecheck(), m_driver->Progress());
  m_driver->OnStartup(code);
  // After the start-up, which leaves the resume file that keeps the choice.
  if (m_engine.IsLoaded()) m_sharing->Apply();
  SyncProcessValues();
  return 0;
}

void CDLDlg::ShapeWindow() {
  ::SetWindowLongW(m_hWnd, GWL_STYLE, ::GetWindowLongW(m_hWnd, GWL_STYLE) | WS_MINIMIZEBOX);
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HICON icon = static_cast<HICON>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  if (icon) ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, kDownloadWindowWidth, kDownloadWindowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, ::GetWindowLongW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
  ::SetLayeredWindowAttributes(m_hWnd, kDownloadColourKey, 255, LWA_COLORKEY);

  SetWindowPolygon(m_hWnd, kWindowOutline, sizeof kWindowOutline / sizeof kWindowOutline[0]);
  CenterWindow(nullptr);
}

void CDLDlg::CreateElements() {
  SkinTable& skin = TheSkinTable();
  CDownloaderConfig& config = DownloaderConfig();

  m_btnClose.Create(this, kCmdClose, kStyleVisibleAutoSize);
  m_btnClose.SetImage(&skin.m_bmpClose);
  m_btnMinimize.Create(this, kCmdMinimize, kStyleVisibleAutoSize);
  m_btnMinimize.SetImage(&skin.m_bmpMinimize);
  m_btnFeedback.Create(this, kCmdFeedback, kStyleVisibleAutoSize);
  m_btnFeedback.SetImage(&skin.m_bmpFeedbackCaption);

  struct Action {
    CSomButton4* button;
    int id;
    CSomBitmap* image;
  } actions[] = {{&m_btnDownload, kCmdDownload, &m_bmpDownload},
                 {&m_btnContinue, kCmdContinue, &m_bmpContinue},
                 {&m_btnPause, kCmdPause, &m_bmpPause},
                 {&m_btnInstall, kCmdInstall, &m_bmpInstall},
                 {&m_btnRedownload, kCmdRedownload, &m_bmpRedownload}};
  for (const Action& action : actions) {
    action.button->Create(this, action.id, kStyleVisibleAutoSize);
    action.button->SetImage(action.image);
    action.button->SetPos(520, 319);
  }

  m_progress.Create(this, 87, 342, 420, 17, 4, kStyleVisibleAutoSize);
  m_progress.SetCapWidth(kProgressCapWidth);
  m_progress.SetRange(0, 100);
  m_progress.SetProgressPos(0);

  wchar_t title[256];
  std::swprintf(title, 256, L"{&#color=0xffffff}Brenva网游戏下载器-%ls专版", m_gameName.c_str());
  m_title.Create(this, 5, kStyleVisibleAutoSize);
  m_title.SetText(title);
  m_title.SetPos(53, 22);

  const std::wstring promotionTitle = config.GetTextPromotionTitle();
  m_promotion.Create(this, 19, kStyleVisibleAutoSize);
  m_promotion.SetMaxWidth(450);
  m_promotion.SetText(
      LinkMarkup(19, kPromotionColour,
                 promotionTitle.empty() ? L"免费领取特权卡，激活码，快来Brenva网发卡平台！" : promotionTitle));
  m_promotion.SetPos(21, 392);

  m_linkOpen.Create(this, kCmdOpenDir, kStyleVisibleAutoSize);
  m_linkOpen.SetText(LinkMarkup(kCmdOpenDir, kOpenLinkColour, L"打开"));
  m_linkOpen.SetPos(217, 315);
  m_linkChange.Create(this, kCmdChangeDir, kStyleVisibleAutoSize);
  m_linkChange.SetText(LinkMarkup(kCmdChangeDir, kChangeLinkColour, L"更改"));
  m_linkChange.SetPos(217, 315);
  m_linkChange.Show(false);

  m_chkGardbox.Create(this, kCmdCompanionBox, kStyleVisibleAutoSize);
  m_chkGardbox.SetCheck(true);
  m_chkGardbox.SetPos(22, 366);

  const std::wstring tip = config.GetGardBoxInstallTip();
  m_lblGardbox.Create(this, 0, kStyleVisibleAutoSize);
  m_lblGardbox.SetMaxWidth(450);
  m_lblGardbox.SetText(tip.empty() ? std::wstring(L"安装Tarn游戏Gardbox") : tip);
  m_lblGardbox.SetPos(44, 367);

  m_lblVersion.Create(this, 0, kStyleVisibleAutoSize);
  m_lblVersion.SetMaxWidth(190);
  m_lblVersion.SetText(config.GetGameVersion());
  m_lblVersion.SetPos(470, 392);

  m_lblPath.Create(this, 23, kStyleVisibleAutoSize);
  m_lblPath.SetMaxWidth(129);
  m_lblPath.SetText(L"{&#color=0x888888}请点击下载按钮，选择游戏保存目录");
  m_lblPath.SetPos(87, 315);

  m_lblProgressCaption.Create(this, 9, kStyleVisibleAutoSize);
  m_lblProgressCaption.SetText(L"下载进度：");
  m_lblProgressCaption.SetPos(21, 342);
  m_lblPathCaption.Create(this, 11, kStyleVisibleAutoSize);
  m_lblPathCaption.SetText(L"保存路径：");
  m_lblPathCaption.SetPos(21, 315);
  m_lblSpeed.Create(this, 10, kStyleVisibleAutoSize);
  m_lblSpeed.SetText(L"速度：");
  m_lblSpeed.SetPos(408, 315);

  m_btnClose.SetPos(643, 26);
  m_btnMinimize.SetPos(615, 26);
  m_btnFeedback.SetPos(588, 26);
}

void CDLDlg::CreateWebView() {
  const std::wstring page = DownloaderConfig().GetEmbedLink2();
  if (::IsInternetConnected() && !page.empty() &&
      m_web.CreateBrowser(nullptr, L"about:blank", m_hWnd, kWebRect, 0, 0, 0, nullptr, kDocHostFlags)) {
    m_web.Navigate(page.c_str());
    m_web.ShowElement(TRUE);
    return;
  }
  ShowStandByPicture();
}

void CDLDlg::ShowStandByPicture() {
  if (m_web.m_hWnd) m_web.ShowElement(FALSE);
  if (m_defaultPage.IsWindow()) {
    m_defaultPage.ShowWindow(SW_SHOW);
    return;
  }
  m_defaultPage.Create(m_hWnd, kWebRect, nullptr, WS_CHILD | WS_VISIBLE);
}

LRESULT CDLDlg::OnWebNavError(UINT, WPARAM, LPARAM, BOOL&) {
  ShowStandByPicture();
  return 0;
}

// ---- Messages ------------------------------------------------------------------

LRESULT CDLDlg::OnTimerMessage(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
  switch (wParam) {
    case kTimerPoll:
      m_driver->OnPollTimer();
      break;
    case kTimerReconnect:
      m_driver->OnReconnectTimer();
      break;
    case kTimerFileWait:
      m_driver->OnFileWaitTimer();
      break;
    default:
      // The element manager's own tick, which runs as long as the window,
      // shown or in the notification area.
      if (wParam == kTickTimerId && !m_closing && m_engine.IsLoaded()) {
        m_servePause->OnTick(::GetTickCount(), [] { return IsFullScreenAppActive(); });
      }
      handled = FALSE;
      return 0;
  }
  SyncProcessValues();
  return 0;
}

LRESULT CDLDlg::OnCloseMessage(UINT, WPARAM, LPARAM, BOOL&) {
  SendMessage(WM_COMMAND, kCmdClose, 0);
  return 0;
}

LRESULT CDLDlg::OnNcHitTest(UINT, WPARAM, LPARAM, BOOL&) { return HTCLIENT; }

LRESULT CDLDlg::OnLButtonDownMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
  return PressOrDrag(*this, m_hWnd, msg, wParam, lParam);
}

LRESULT CDLDlg::OnCommandMessage(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
  OnCommand(LOWORD(wParam), lParam);
  return 0;
}

void CDLDlg::OnCommand(WORD id, LPARAM lParam) {
  switch (id) {
    case kCmdClose:
      AddTrayIcon();
      ShowWindow(SW_HIDE);
      return;
    case kCmdActivate:
      Activate();
      return;
    case kCmdTrayClose:
      // The window (and this object) is gone afterwards.
      CloseProgram();
      return;
    case kCmdTrayShare:
      m_sharing->Toggle();
      return;
    case kCmdMinimize:
      ShowWindow(SW_SHOWMINIMIZED);
      return;
    case kCmdFeedback:
      OpenUrl(kFeedbackForumPage);
      return;
    case kCmdPromotion: {
      const std::wstring link = DownloaderConfig().GetTextPromotionLink();
      // Publishers write "www.example.com/..." as often as a full address.
      const std::wstring address = ShellWebAddress(link);
      OpenUrl(link.empty() ? std::wstring(kPortalHomePage) : address.empty() ? link : address);
      return;
    }
    case kCmdRedownload:
      m_driver->Redownload();
      break;
    case kCmdPause:
      m_driver->OnPauseCommand();
      break;
    case kCmdContinue:
      m_driver->OnContinueCommand();
      break;
    case kCmdInstall:
      m_driver->RunInstaller();
      break;
    case kCmdOpenDir:
      m_driver->OpenSaveDir();
      break;
    case kCmdDownload: {
      const CAutoContinue::CommandScope scope(m_autoThread, lParam == kAutoContinueParam && ::InSendMessage());
      m_driver->OnDownloadCommand(static_cast<int>(lParam));
      break;
    }
    case kCmdCompanionBox:
      m_driver->OnCompanionToggled();
      break;
    case kCmdChangeDir:
      m_driver->ChangeSaveDir();
      break;
    default:
      return;
  }
  SyncProcessValues();
}

LRESULT CDLDlg::OnTrayMessage(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
  if (wParam != kTrayIconId) return 0;
  if (lParam == WM_LBUTTONUP) {
    SendMessage(WM_COMMAND, kCmdActivate, 0);
  } else if (lParam == WM_RBUTTONUP) {
    ShowTrayMenu();
  }
  return 0;
}

void CDLDlg::ShowTrayMenu() {
  ScopedMenu menu(::CreatePopupMenu());
  if (!menu) return;
  ::AppendMenuW(menu.Get(), MF_STRING, kCmdActivate, L"打开下载器");
  const UINT shareFlags = MF_STRING | (m_sharing->Checked() ? MF_CHECKED : MF_UNCHECKED) |
                          (m_sharing->Enabled() ? MF_ENABLED : MF_GRAYED);
  ::AppendMenuW(menu.Get(), shareFlags, kCmdTrayShare, L"与其他玩家共享下载");
  ::AppendMenuW(menu.Get(), MF_STRING, kCmdTrayClose, L"关闭");
  POINT cursor = {};
  ::GetCursorPos(&cursor);
  // Without the foreground the menu would not close when the user clicks
  // elsewhere.
  ::SetForegroundWindow(m_hWnd);
  ::TrackPopupMenu(menu.Get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, m_hWnd, nullptr);
  PostMessage(WM_NULL);
}

void CDLDlg::AddTrayIcon() {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = m_hWnd;
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallbackMessage;
  data.hIcon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                               0, 0, LR_DEFAULTSIZE | LR_SHARED));
  std::swprintf(data.szTip, sizeof data.szTip / sizeof data.szTip[0], L"Brenva网游戏下载器-%ls专版",
                m_gameName.c_str());
  // A second close while the icon is there only refreshes it.
  if (m_trayIconAdded && ::Shell_NotifyIconW(NIM_MODIFY, &data)) return;
  m_trayIconAdded = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void CDLDlg::DeleteTrayIcon() {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = m_hWnd;
  data.uID = kTrayIconId;
  data.uFlags = NIF_TIP;
  std::wcscpy(data.szTip, L"Brenva网游戏下载器");
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  m_trayIconAdded = false;
}

void CDLDlg::Activate() {
  if (IsFullScreenAppActive()) {
    ::SetWindowPos(m_hWnd, HWND_BOTTOM, 0, 0, 0, 0, kShowNoActivate);
    return;
  }
  ShowWindow(SW_RESTORE);
  ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
  ::SetWindowPos(m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
}

void CDLDlg::CloseProgram() {
  m_closing = true;
  m_driver->CloseEngine();
  m_autoThread.Stop();
  DeleteTrayIcon();
  ShowWindow(SW_HIDE);
  ::PostQuitMessage(0);
  // Last: the final message deletes this object.
  DestroyWindow();
}

// The promotion link comes from the server: web addresses only.
void CDLDlg::OpenUrl(const std::wstring& url) { OpenUrlExternally(url.c_str()); }

void CDLDlg::SyncProcessValues() {
  const ResumeProgress& progress = m_driver->Progress();
  m_hasPending->store(!progress.pendingItems.empty());
}

// ---- IDownloadView, IDownloadPrompts, IDownloadHost----------------------------------------------------

void CDLDlg::SetTimer(int id) { ::SetTimer(m_hWnd, static_cast<UINT_PTR>(id), 1000, nullptr); }

void CDLDlg::KillTimer(int id) { ::KillTimer(m_hWnd, static_cast<UINT_PTR>(id)); }

void CDLDlg::SetMode(int mode) {
  m_mode = mode;
  const int shown = ActionButtonOfMode(mode);
  // All hidden first: hiding a button repaints the background over its place,
  // which all five share, and would wipe out one shown before it.
  CSomButton4* shownButton = nullptr;
  for (CSomButton4* button : {&m_btnDownload, &m_btnContinue, &m_btnPause, &m_btnInstall, &m_btnRedownload}) {
    if (button->GetID() == shown) {
      shownButton = button;
    } else {
      button->Show(false);
    }
  }
  if (shownButton) {
    shownButton->Show(true);
    shownButton->Invalidate();
  }
}

void CDLDlg::SetProgress(int percent) { m_progress.SetProgressPos(percent); }

void CDLDlg::SetSizesText(const std::wstring& text) {
  m_progress.SetLabel(text);
  m_progress.Invalidate();
}

void CDLDlg::SetSpeedText(const std::wstring& text) { m_lblSpeed.SetText(text); }

void CDLDlg::ShowSaveDir(const std::wstring& dir, bool accepted) {
  // With nothing proposed the hint stays.
  if (!dir.empty()) m_lblPath.SetPlainText(dir);
  m_linkOpen.Show(accepted);
  m_linkChange.Show(!accepted);
}

bool CDLDlg::IsCompanionChecked() { return m_chkGardbox.GetCheck(); }

void CDLDlg::SetCompanionChecked(bool checked) { m_chkGardbox.SetCheck(checked); }

void CDLDlg::EnableCompanionCheckBox(bool enable) { m_chkGardbox.Enable(enable); }

bool CDLDlg::IsInternetConnected() { return ::IsInternetConnected() != 0; }

bool CDLDlg::IsCompanionMutexTaken() { return ::IsCompanionMutexTaken(); }

void CDLDlg::RunCompanionInstaller(const std::wstring& path) {
  RunCompanionInstallerSilently(path, DownloaderConfig().GetGardboxMd5());
}

bool CDLDlg::WaitItemMutex() {
  const DWORD got = ::WaitForSingleObject(m_itemMutex.Get(), INFINITE);
  return got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
}

void CDLDlg::ReleaseItemMutex() {
  // The auto-continue thread asks whether files remain as soon as it wakes.
  SyncProcessValues();
  ::ReleaseMutex(m_itemMutex.Get());
}

bool CDLDlg::IsAutoThreadRunning() { return m_autoThread.IsRunning(); }

void CDLDlg::StartAutoThread() {
  SyncProcessValues();
  std::shared_ptr<std::atomic<bool>> pending = m_hasPending;
  m_autoThread.Start(m_itemMutex.Get(), m_hWnd, [pending] { return pending->load(); });
}

void CDLDlg::StopAutoThread() { m_autoThread.Stop(); }

void CDLDlg::SendCommand(int id, int lParam) { SendMessage(WM_COMMAND, static_cast<WPARAM>(id), lParam); }

void CDLDlg::PostCommand(int id) { PostMessage(WM_COMMAND, static_cast<WPARAM>(id), 0); }

bool CDLDlg::BrowseForDir(std::wstring* dir) {
  BROWSEINFOW info = {};
  info.hwndOwner = m_hWnd;
  info.lpszTitle = L"选择路径";
  info.ulFlags = kBrowseFlags;
  ScopedTaskMem<std::remove_pointer_t<PIDLIST_ABSOLUTE>> list(::SHBrowseForFolderW(&info));
  if (!list.Get()) return false;
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(list.Get(), path)) return false;
  *dir = path;
  return true;
}

template <typename Prompt>
int CDLDlg::RunPrompt(Prompt& prompt) {
  ++m_promptDepth;
  const int result = RunPromptModal(prompt, m_hWnd);
  --m_promptDepth;
  // The prompt went down with this window and its loop took the quit as its
  // own: ask again, so that the program's loop ends too.
  if (m_closing) ::PostQuitMessage(0);
  return result;
}

int CDLDlg::ShowDirError(const std::wstring& message) {
  CDirErrDlg prompt;
  prompt.SetMessage(message.c_str());
  return RunPrompt(prompt);
}

int CDLDlg::ShowDownloadFailedPrompt() {
  CDownloadFailedBelowDlg prompt;
  return RunPrompt(prompt);
}

int CDLDlg::ShowFileCheckFailedPrompt(bool moreFiles) {
  CFileCheckFailedDlg prompt;
  prompt.SetAltAction(moreFiles ? TRUE : FALSE);
  return RunPrompt(prompt);
}

int CDLDlg::ShowInstallPrompt() {
  CInstallGameDlg prompt;
  prompt.SetGameName(m_gameName.c_str());
  prompt.SetFullScreenTest(&IsFullScreenAppActive);
  return RunPrompt(prompt);
}

int CDLDlg::ShowFileErrPrompt() {
  CFileErrDlg prompt;
  return RunPrompt(prompt);
}

int CDLDlg::ShowFileDamagedPrompt() {
  CFileDamagedDlg prompt;
  return RunPrompt(prompt);
}

void CDLDlg::ShowDirOpenFailedPrompt() {
  CDirOpenFailedDlg prompt;
  RunPrompt(prompt);
}

void CDLDlg::ShellOpen(const std::wstring& target) {
  ::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOW);
}

void CDLDlg::OpenFolderAndSelect(const std::wstring& path) {
  ScopedCoInit com;
  // An item list from ILCreateFromPath is task memory.
  ScopedTaskMem<std::remove_pointer_t<PIDLIST_ABSOLUTE>> item(::ILCreateFromPathW(path.c_str()));
  if (item.Get()) ::SHOpenFolderAndSelectItems(item.Get(), 0, nullptr, 0);
}
