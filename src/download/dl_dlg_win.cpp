#include "download/dl_dlg_win.h"

#include <shellapi.h>

#include <cwchar>

#include "base/scoped_win.h"
#include "config/downloader_config.h"
#include "download/download_layout.h"
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
namespace layout = download_layout;

constexpr RECT kWebRect = {layout::kWeb.left, layout::kWeb.top, layout::kWeb.right, layout::kWeb.bottom};
constexpr POINT kWindowOutline[] = {{7, 0},     {286, 0},   {295, 10}, {671, 10}, {679, 19},
                                    {679, 411}, {671, 419}, {8, 419},  {0, 411},  {0, 0}};
// DWebBrowser host flags of the embedded page: no 3-D border, no scroll bars
// of its own, themed, no selection menu.
constexpr DWORD kDocHostFlags = 0x24009F;

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

}  // namespace

CDLDlg::CDLDlg()
    : m_bmpCheckBox(static_cast<std::uintptr_t>(layout::kCompanionBox.resourceId), layout::kCompanionBox.frames),
      m_bmpDownload(static_cast<std::uintptr_t>(layout::kDownload.resourceId), layout::kDownload.frames),
      m_bmpContinue(static_cast<std::uintptr_t>(layout::kContinue.resourceId), layout::kContinue.frames),
      m_bmpPause(static_cast<std::uintptr_t>(layout::kPause.resourceId), layout::kPause.frames),
      m_bmpInstall(static_cast<std::uintptr_t>(layout::kInstall.resourceId), layout::kInstall.frames),
      m_bmpRedownload(static_cast<std::uintptr_t>(layout::kRedownload.resourceId), layout::kRedownload.frames),
      m_chkGardbox(&m_bmpCheckBox, false),
      m_prompts(m_closing, DownloaderConfig().GetGameName(), &IsFullScreenAppActive),
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
  m_driver = std::make_unique<CDownloadDriver>(m_engine, *this, m_prompts, m_host, m_disk, m_disk, m_reports,
                                               ResumeState(), SettingsFromConfig());
  m_host.WatchProgress(m_driver->Progress());
  m_sharing = std::make_unique<CPeerSharingChoice>(ResumeState(), m_engine,
                                                   DownloaderConfig().IsPeerSharingAllowed());
  m_servePause = std::make_unique<CServePause>(m_engine);
  m_speedCap = std::make_unique<CSpeedCapChoice>(ResumeState(), m_engine);
  m_stepAside = std::make_unique<CStepAsideChoice>(ResumeState());
}

CDLDlg::~CDLDlg() {
  m_host.StopAutoThread();
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
  if (m_prompts.Running()) return;
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
  m_host.Attach(m_hWnd);
  m_prompts.Attach(m_hWnd);
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
  if (m_engine.IsLoaded()) {
    m_sharing->Apply();
    m_speedCap->Apply();
  }
  SyncPending();
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
  constexpr DWORD style = kStyleVisibleAutoSize;

  PlaceSkinButton(this, m_btnClose, layout::kClose, skin, style);
  PlaceSkinButton(this, m_btnMinimize, layout::kMinimize, skin, style);
  PlaceSkinButton(this, m_btnFeedback, layout::kFeedback, skin, style);

  PlacePictureButton(this, m_btnDownload, layout::kDownload, &m_bmpDownload, style);
  PlacePictureButton(this, m_btnContinue, layout::kContinue, &m_bmpContinue, style);
  PlacePictureButton(this, m_btnPause, layout::kPause, &m_bmpPause, style);
  PlacePictureButton(this, m_btnInstall, layout::kInstall, &m_bmpInstall, style);
  PlacePictureButton(this, m_btnRedownload, layout::kRedownload, &m_bmpRedownload, style);

  PlaceBar(this, m_progress, layout::kProgress, style);
  m_progress.SetRange(0, 100);
  m_progress.SetProgressPos(0);

  wchar_t title[256];
  std::swprintf(title, 256, L"{&#color=0xffffff}Brenva网游戏下载器-%ls专版", m_gameName.c_str());
  PlaceText(this, m_title, layout::kTitle, title, style);

  const std::wstring promotionTitle = config.GetTextPromotionTitle();
  PlaceText(this, m_promotion, layout::kPromotion,
            LinkMarkup(layout::kPromotion.id, layout::kPromotionColour,
                       promotionTitle.empty() ? layout::kPromotion.text : promotionTitle),
            style);

  PlaceText(this, m_linkOpen, layout::kOpenLink,
            LinkMarkup(layout::kOpenLink.id, layout::kOpenLinkColour, layout::kOpenLink.text), style);
  PlaceText(this, m_linkChange, layout::kChangeLink,
            LinkMarkup(layout::kChangeLink.id, layout::kChangeLinkColour, layout::kChangeLink.text), style);
  m_linkChange.Show(false);

  m_chkGardbox.Create(this, layout::kCompanionBox.id, style);
  m_chkGardbox.SetCheck(true);
  m_chkGardbox.SetPos(layout::kCompanionBox.x, layout::kCompanionBox.y);

  const std::wstring tip = config.GetGardBoxInstallTip();
  PlaceText(this, m_lblGardbox, layout::kCompanionLabel, tip.empty() ? layout::kCompanionLabel.text : tip, style);
  PlaceText(this, m_lblVersion, layout::kVersion, config.GetGameVersion(), style);
  PlaceText(this, m_lblPath, layout::kPath, layout::kPath.text, style);
  PlaceText(this, m_lblProgressCaption, layout::kProgressCaption, layout::kProgressCaption.text, style);
  PlaceText(this, m_lblPathCaption, layout::kPathCaption, layout::kPathCaption.text, style);
  PlaceText(this, m_lblSpeed, layout::kSpeed, layout::kSpeed.text, style);
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
      m_speed = m_driver->OnPollTimer().speed;
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
        if (m_fullScreen.OnTick(::GetTickCount())) {
          const bool stepAside = m_stepAside->StepAside(m_fullScreen.FullScreen());
          m_servePause->OnFullScreen(stepAside);
          m_speedCap->OnFullScreen(m_speed, stepAside);
        }
      }
      handled = FALSE;
      return 0;
  }
  SyncPending();
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
    case kCmdTrayStepAside:
      // Heard by the serve pause and the speed cap at the watch's next answer.
      m_stepAside->Toggle();
      return;
    case kCmdTraySpeedFirst:
    case kCmdTraySpeedFirst + 1:
    case kCmdTraySpeedFirst + 2:
    case kCmdTraySpeedFirst + 3:
    case kCmdTraySpeedFirst + 4:
      m_speedCap->Choose(static_cast<size_t>(id - kCmdTraySpeedFirst));
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
      const CAutoContinue::CommandScope scope(m_host.AutoThread(), lParam == kAutoContinueParam && ::InSendMessage());
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
  SyncPending();
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
  ::AppendMenuW(menu.Get(), MF_STRING | (m_stepAside->Checked() ? MF_CHECKED : MF_UNCHECKED), kCmdTrayStepAside,
                L"全屏游戏时让出网速");
  // Destroyed with the menu it is appended to.
  HMENU caps = ::CreatePopupMenu();
  if (caps) {
    for (size_t i = 0; i < kSpeedCapChoiceCount; ++i) {
      const UINT flags = MF_STRING | (i == m_speedCap->ChosenIndex() ? MF_CHECKED : MF_UNCHECKED);
      ::AppendMenuW(caps, flags, static_cast<UINT_PTR>(kCmdTraySpeedFirst + static_cast<int>(i)), SpeedCapChoiceText(i));
    }
    ::AppendMenuW(menu.Get(), MF_POPUP, reinterpret_cast<UINT_PTR>(caps), kSpeedCapMenuText);
  }
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
  m_host.StopAutoThread();
  DeleteTrayIcon();
  ShowWindow(SW_HIDE);
  ::PostQuitMessage(0);
  // Last: the final message deletes this object.
  DestroyWindow();
}

// The promotion link comes from the server: web addresses only.
void CDLDlg::OpenUrl(const std::wstring& url) { OpenUrlExternally(url.c_str()); }

void CDLDlg::SyncPending() { m_host.SyncPending(); }

// ---- IDownloadView -------------------------------------------------------------

void CDLDlg::SetMode(int mode) {
  m_mode = mode;
  if (mode != ModeDownloading) m_speed = 0;
  m_taskbar.Show(m_mode, m_percent);
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

void CDLDlg::SetProgress(int percent) {
  m_progress.SetProgressPos(percent);
  m_percent = percent;
  m_taskbar.Show(m_mode, m_percent);
}

LRESULT CDLDlg::OnTaskbarButtonCreated(UINT, WPARAM, LPARAM, BOOL&) {
  m_taskbar.OnButtonCreated(m_hWnd);
  return 0;
}

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
