#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "app/init_flow.h"
#include "app/main_dlg_win.h"
#include "base/scoped_win.h"
#include "config/downloader_config.h"
#include "config/first_item.h"
#include "config/version_text.h"
#include "contract/report_words.h"
#include "download/dl_dlg_win.h"
#include "prompts/prompt_dlg_win.h"
#include "skin/skin_resource_ids.h"
#include "skin/skin_table_win.h"
#include "skin/som_platform_win.h"
#include "stats/report.h"

namespace {

constexpr DWORD kStyleVisibleAutoSize = CSomWnd::StyleVisible | CSomWnd::StyleAutoSize;
constexpr int kCloseButtonId = 0;
constexpr int kTitleId = 1;
constexpr int kStatusId = 2;
constexpr int kProgressId = 3;
constexpr int kWindowWidth = 404;
constexpr int kWindowHeight = 201;
constexpr int kCornerCut = 9;
constexpr int kProgressCap = 8;
constexpr DWORD kHandOverStyle = WS_POPUP | WS_VISIBLE | WS_SYSMENU;  // 0x90080000

// The prompt of the last failed initialization and the window made by the
// last retry; each is deleted when the next one replaces it.
CInitialFailedDlg* g_initialFailedDlg = nullptr;
CMainDlg* g_retryMainDlg = nullptr;

DWORD WINAPI InitWorker(LPVOID param) {
  // Only the handle travels: a retry may delete the window object while this
  // thread is still sending, and SendMessage to a dead handle is harmless.
  HWND hwnd = static_cast<HWND>(param);
  CallBack callback(hwnd);
  int result = DownloaderConfig().Initialize(&callback);
  ::SendMessageW(hwnd, kInitNotifyMessage, static_cast<WPARAM>(result), kInitNotifyFinished);
  return 0;
}

void RetryInitialization() {
  delete g_retryMainDlg;
  g_retryMainDlg = nullptr;
  auto* mainDlg = new CMainDlg;
  RECT rect = {0, 0, 400, 200};
  if (!mainDlg->Create(nullptr, rect, nullptr, WS_POPUP | WS_VISIBLE)) {
    // The prompt goes away after this; with no window left nothing else
    // would end the process.
    delete mainDlg;
    ::PostQuitMessage(0);
    return;
  }
  g_retryMainDlg = mainDlg;
}

void ShowInitialFailedPrompt(const std::wstring& gameName) {
  delete g_initialFailedDlg;
  g_initialFailedDlg = new CInitialFailedDlg;
  g_initialFailedDlg->SetMessage(L"下载器初始化失败，请检测您的网络是否连接正常。可以点击重试，尝试再次初始化!");
  g_initialFailedDlg->SetRetryHandler(&RetryInitialization);
  if (!ShowModelessPrompt(*g_initialFailedDlg, gameName.c_str())) ::PostQuitMessage(0);
}

void ShowOlderVersionPrompt(const std::wstring& gameName, const std::wstring& link) {
  // Lives until the program ends; its buttons end it.
  auto* prompt = new COlderVersionDlg;
  prompt->SetMessage(L"下载器版本过旧，请重新下载！");
  prompt->SetUrl(link.c_str());
  if (!ShowModelessPrompt(*prompt, gameName.c_str())) ::PostQuitMessage(0);
}

void ShowDownloadWindow(const std::wstring& title, bool withSkinPicture) {
  // The download window owns the rest of the process's life; nothing keeps
  // a pointer to it.
  CDLDlg* dlg = withSkinPicture ? new CDLDlg(DownloaderConfig().GetSkinPath()) : new CDLDlg();
  RECT rect = {0, 0, 400, 100};
  if (!dlg->Create(nullptr, rect, title.c_str(), kHandOverStyle, 0)) {
    delete dlg;
    ::PostQuitMessage(0);
    return;
  }
  dlg->ShowWindow(SW_SHOW);
}

}  // namespace

void CreateDesktopShortcut() {
  wchar_t program[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  wchar_t desktop[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, FALSE)) return;
  const std::wstring linkPath = DesktopShortcutPath(desktop, program);
  if (::GetFileAttributesW(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES) ::DeleteFileW(linkPath.c_str());

  ScopedCoInit com;
  ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))) {
    return;
  }
  link->SetPath(program);
  link->SetArguments(L"");
  link->SetDescription(ProgramFileName(program).c_str());
  link->SetWorkingDirectory(L"");
  ComPtr<IPersistFile> file;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) file->Save(linkPath.c_str(), TRUE);
}

CMainDlg::CMainDlg() : m_bmpBackground(static_cast<std::uintptr_t>(IDB_WINDOW_FRAME)) {}

CMainDlg::~CMainDlg() {
  // The window must go while the object its procedure calls into still exists.
  if (IsWindow()) DestroyWindow();
}

CWndClassInfo CMainDlg::GetWndClassInfo() const {
  CWndClassInfo info;
  info.name = kClassName;
  info.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  info.background = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  return info;
}

bool CMainDlg::PreTranslateMessage(MSG* msg) { return IsSwallowedKeyMessage(msg->message, msg->wParam); }

void CMainDlg::PaintBackground(SomDC dc, const SomRect*) {
  RECT client;
  GetClientRect(&client);
  m_bmpBackground.Draw(dc, 0, 0, client.right - 1, client.bottom - 1, 0);
}

LRESULT CMainDlg::OnSize(UINT, WPARAM, LPARAM, BOOL&) { return 0; }

LRESULT CMainDlg::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
  CreateDesktopShortcut();
  ::GetSystemMenu(m_hWnd, TRUE);
  HICON icon = ::LoadIconW(UiModule().GetResourceInstance(), MAKEINTRESOURCEW(IDI_PROGRAM));
  if (icon) SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, kWindowWidth, kWindowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  CreateElements();
  ApplyRegion();
  CenterWindow();
  StartWorker();
  return 0;
}

void CMainDlg::CreateElements() {
  SkinTable& skin = TheSkinTable();
  m_btnClose.Create(this, kCloseButtonId, kStyleVisibleAutoSize);
  m_btnClose.SetImage(&skin.m_bmpClose);
  m_btnClose.SetPos(369, 16);
  m_title.Create(this, kTitleId, kStyleVisibleAutoSize);
  m_title.SetText(L"{&#color=0xffffff}Brenva网游戏下载器");
  m_title.SetFont(skin.GetFont(3));
  m_title.SetPos(17, 17);
  m_status.Create(this, kStatusId, kStyleVisibleAutoSize);
  m_status.SetText(L"正在初始化...");
  m_status.SetPos(162, 75);
  m_progress.Create(this, 0, 0, 339, 17, kProgressId, kStyleVisibleAutoSize);
  m_progress.SetCapWidth(kProgressCap);
  m_progress.SetRange(0, 100);
  m_progress.SetProgressPos(m_nProgress);
  m_progress.SetPos(37, 114);
}

void CMainDlg::ApplyRegion() { SetCutCornerRegion(m_hWnd, kCornerCut); }

void CMainDlg::StartWorker() {
  // The worker runs on its own; its handle is not needed.
  if (ScopedKernelHandle(::CreateThread(nullptr, 0, &InitWorker, m_hWnd, 0, nullptr))) return;
  // Without a worker the window would wait forever: go on as if nothing
  // could be fetched, which offers the retry.
  PostMessage(kInitNotifyMessage, INIT_CONFIG_NOT_FETCHED, kInitNotifyFinished);
}

LRESULT CMainDlg::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
  if (wParam != IDT_INIT_PROGRESS) {
    // The element manager's tick keeps the close button's hover look right.
    handled = FALSE;
    return 0;
  }
  int next = NextInitProgress(m_nProgress);
  if (next >= 0) {
    m_nProgress = next;
    m_progress.SetProgressPos(m_nProgress);
  } else {
    EvaluateResult();
  }
  return 1;
}

LRESULT CMainDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
  CloseProgram();
  return 0;
}

void CMainDlg::CloseProgram() {
  DestroyWindow();
  ::PostQuitMessage(0);
}

LRESULT CMainDlg::OnInitNotify(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
  if (lParam == kInitNotifyProgress) {
    m_nProgress = static_cast<int>(wParam);
    m_progress.SetProgressPos(m_nProgress);
  } else if (lParam == kInitNotifyFinished) {
    OnInitFinished(static_cast<int>(wParam));
  }
  return 0;
}

void CMainDlg::OnInitFinished(int result) {
  CDownloaderConfig& config = DownloaderConfig();
  std::vector<GameFileEntry> files = config.GetFileList();
  m_files = std::move(files);
  Report(config.GetDomainName(), report_words::kActionInitial.wide, L"Initial", 0, 0, 0);
  ::SetTimer(m_hWnd, IDT_INIT_PROGRESS, kInitProgressPeriodMs, nullptr);
  m_nInitResult = result;
}

void CMainDlg::EvaluateResult() {
  CDownloaderConfig& config = DownloaderConfig();
  const std::wstring gameName = config.GetGameName();
  const std::wstring title = DownloaderTitle(gameName);
  ::KillTimer(m_hWnd, IDT_INIT_PROGRESS);

  const bool usable = IsFirstDownloadItemUsable(m_files, config.GetGameKey());
  const bool older = IsOlderVersion(config.GetNewVersion(), config.GetVersion());
  InitOutcome outcome = DecideInitOutcome(m_nInitResult, usable, older);
  if (outcome == InitOutcome::InitialFailed) {
    DestroyWindow();
    ShowInitialFailedPrompt(gameName);
    return;
  }
  m_progress.SetProgressPos(100);
  DestroyWindow();
  if (outcome == InitOutcome::OlderVersion) {
    ShowOlderVersionPrompt(gameName, config.GetNewVersionDownloaderLink());
  } else {
    ShowDownloadWindow(title, outcome == InitOutcome::DownloadWindowSkinned);
  }
}

LRESULT CMainDlg::OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL&) {
  POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  ::ScreenToClient(m_hWnd, &pt);
  return m_btnClose.GetRect().Contains(SomPoint{pt.x, pt.y}) ? HTCLIENT : HTCAPTION;
}

LRESULT CMainDlg::OnCommand(UINT, WPARAM wParam, LPARAM, BOOL&) {
  if (wParam == static_cast<WPARAM>(kCloseButtonId)) CloseProgram();
  return 0;
}
