// Shows the skin's windows one at a time for the Wine tests and the
// screenshots: every prompt (run the way the program runs it), and the element
// sets of the start-up and download windows.
//
//   gallery prompt NAME [--alt] [--url URL]   NAME: direrr diropenfailed downloadfailed
//                                              filecheckfailed filedamaged fileerr
//                                              initialfailed olderversion install
//   gallery main
//   gallery download [--web URL]
//   gallery images
//
// Lines on stdout: "window X Y CX CY" once the window under test is up,
// "owner-command N" for commands reaching the owner, "result N" at the end.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "download/download_layout.h"
#include "probe_output_win.h"
#include "prompts/prompt_dlg_win.h"
#include "skin/html_default_web_wnd_win.h"
#include "skin/html_view_win.h"
#include "skin/skin_resource_ids.h"
#include "skin/skin_table_win.h"
#include "skin/som_button.h"
#include "skin/som_progress_win.h"
#include "skin/som_text_wnd.h"
#include "ui/window_win.h"

namespace {

constexpr UINT_PTR kAnnounceTimer = 1;
constexpr UINT_PTR kQuitTimer = 2;
// The owner is painted in a colour the skin never uses, so the tests can see
// where the prompt's cut corners let it through.
constexpr COLORREF kOwnerColour = RGB(255, 0, 255);
constexpr DWORD kStyle3 = 3;

void AnnounceWindow(HWND hwnd) {
  RECT rc;
  ::GetWindowRect(hwnd, &rc);
  PrintLine(L"window %ld %ld %ld %ld", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

// A plain window that stands in for the program's windows that own prompts.
class COwnerWnd : public CWindowBase {
 public:
  BEGIN_MSG_MAP(COwnerWnd)
  MESSAGE_HANDLER(WM_COMMAND, OnCommand)
  MESSAGE_HANDLER(WM_TIMER, OnTimer)
  END_MSG_MAP()

 protected:
  CWndClassInfo GetWndClassInfo() const override {
    CWndClassInfo info;
    info.name = L"GalleryOwner";
    static HBRUSH brush = ::CreateSolidBrush(kOwnerColour);
    info.background = brush;
    return info;
  }

 private:
  LRESULT OnCommand(UINT, WPARAM wParam, LPARAM, BOOL&) {
    PrintLine(L"owner-command %u", static_cast<unsigned>(wParam));
    return 0;
  }
  LRESULT OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (wParam != kAnnounceTimer) {
      handled = FALSE;
      return 0;
    }
    ::KillTimer(m_hWnd, kAnnounceTimer);
    // The timer runs inside the prompt's own loop, once the prompt is up.
    if (HWND prompt = ::FindWindowExW(nullptr, nullptr, L"SomPromptDlg", nullptr)) AnnounceWindow(prompt);
    return 0;
  }
};

std::unique_ptr<CPromptWindow> MakePrompt(const std::wstring& name, bool alt) {
  if (name == L"direrr") {
    auto p = std::make_unique<CDirErrDlg>();
    p->SetMessage(L"磁盘格式为FAT32，无法保存大于4GB的文件，请更换为NTFS格式分区！");
    return p;
  }
  if (name == L"diropenfailed") return std::make_unique<CDirOpenFailedDlg>();
  if (name == L"downloadfailed") return std::make_unique<CDownLoadFailedDlg>();
  if (name == L"filecheckfailed") {
    auto p = std::make_unique<CFileCheckFailedDlg>();
    p->SetAltAction(alt);
    return p;
  }
  if (name == L"filedamaged") return std::make_unique<CFileDamagedDlg>();
  if (name == L"fileerr") return std::make_unique<CFileErrDlg>();
  if (name == L"install") {
    auto p = std::make_unique<CInstallGameDlg>();
    p->SetGameName(L"幻想之城");
    return p;
  }
  return nullptr;
}

void CALLBACK QuitSoon(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  PrintLine(L"still-running");
  ::PostQuitMessage(0);
}

int RunModelessPrompt(const std::wstring& name, const std::wstring& url) {
  std::unique_ptr<CPromptDlg> prompt;
  if (name == L"initialfailed") {
    auto p = std::make_unique<CInitialFailedDlg>();
    // The program would make a new start-up window here; the gallery shows
    // that it goes on running instead of quitting.
    p->SetRetryHandler([] {
      PrintLine(L"retry");
      ::SetTimer(nullptr, 0, 700, QuitSoon);
    });
    prompt = std::move(p);
  } else {
    auto p = std::make_unique<COlderVersionDlg>();
    p->SetUrl(url.c_str());
    p->SetPageOpener([](const wchar_t* page) { PrintLine(L"open %ls", page); });
    prompt = std::move(p);
  }
  HWND hwnd = ShowModelessPrompt(*prompt, L"幻想之城");
  if (!hwnd) return 1;
  AnnounceWindow(hwnd);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  PrintLine(L"result %d", prompt->GetResult());
  return 0;
}

int RunPrompt(const std::wstring& name, bool alt, const std::wstring& url) {
  if (name == L"initialfailed" || name == L"olderversion") return RunModelessPrompt(name, url);
  std::unique_ptr<CPromptWindow> prompt = MakePrompt(name, alt);
  if (!prompt) {
    PrintLine(L"unknown prompt");
    return 2;
  }
  COwnerWnd owner;
  RECT rc = {100, 100, 740, 500};
  if (!owner.Create(nullptr, rc, L"Gallery owner", WS_POPUP | WS_VISIBLE)) return 1;
  ::SetTimer(owner, kAnnounceTimer, 300, nullptr);
  int result = RunPromptModal(*prompt, owner);
  PrintLine(L"owner-enabled %d", ::IsWindowEnabled(owner) ? 1 : 0);
  PrintLine(L"result %d", result);
  return 0;
}

// ---- Element sets of the two main windows ----------------------------------

// The start-up window's look: frame 101 drawn in nine parts, close button,
// title, status text and the initialization bar.
class CMainGalleryWnd : public CWindowBase, public CSomWndManager {
 public:
  BEGIN_MSG_MAP(CMainGalleryWnd)
  MESSAGE_HANDLER(WM_CREATE, OnCreate)
  MESSAGE_HANDLER(WM_COMMAND, OnCommand)
  CHAIN_MSG_MAP(CSomWndManager)
  END_MSG_MAP()

  void PaintBackground(SomDC dc, const SomRect*) override {
    RECT rc;
    GetClientRect(&rc);
    TheSkinTable().m_bmpWindowFrame.Draw(dc, 0, 0, rc.right, rc.bottom, 0);
  }

 protected:
  CWndClassInfo GetWndClassInfo() const override {
    CWndClassInfo info;
    info.name = L"GalleryMain";
    return info;
  }
  void OnFinalMessage(HWND) override { ::PostQuitMessage(0); }

 private:
  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    SkinTable& skin = TheSkinTable();
    m_close.Create(this, 0, kStyle3);
    m_close.SetImage(&skin.m_bmpClose);
    m_close.SetPos(369, 8);
    m_title.Create(this, 1, kStyle3);
    m_title.SetText(L"{&#color=0xffffff}Brenva网游戏下载器-幻想之城专版");
    m_title.SetFont(skin.GetFont(3));
    m_title.SetPos(12, 12);
    m_status.Create(this, 2, kStyle3);
    m_status.SetText(L"正在初始化...");
    m_status.SetPos(30, 110);
    m_progress.Create(this, 30, 135, 340, 17, 3, kStyle3);
    m_progress.SetCapWidth(8);
    m_progress.SetProgressPos(60);
    return 0;
  }
  LRESULT OnCommand(UINT, WPARAM wParam, LPARAM, BOOL&) {
    PrintLine(L"command %u", static_cast<unsigned>(LOWORD(wParam)));
    return 0;
  }

  CSomButton4 m_close;
  CSomTextWnd m_title;
  CSomTextWnd m_status;
  CGardBoxProgress m_progress;
};

// The download window's look: background 105, caption buttons, the action
// button, progress with its label, the companion box, the texts and the web
// area (the page, or the stand-by picture when there is none).
class CDownloadGalleryWnd : public CWindowBase, public CSomWndManager {
 public:
  explicit CDownloadGalleryWnd(std::wstring webUrl)
      : m_webUrl(std::move(webUrl)),
        m_background(static_cast<UINT_PTR>(IDB_DOWNLOAD_BACKGROUND), 1),
        m_bmpDownload(static_cast<UINT_PTR>(download_layout::kDownload.resourceId), download_layout::kDownload.frames),
        m_bmpCheck(static_cast<UINT_PTR>(download_layout::kCompanionBox.resourceId),
                   download_layout::kCompanionBox.frames),
        m_check(&m_bmpCheck, 0) {}

  BEGIN_MSG_MAP(CDownloadGalleryWnd)
  MESSAGE_HANDLER(WM_CREATE, OnCreate)
  MESSAGE_HANDLER(WM_COMMAND, OnCommand)
  MESSAGE_HANDLER(WM_WEBNAVERROR, OnWebNavError)
  CHAIN_MSG_MAP(CSomWndManager)
  END_MSG_MAP()

  void PaintBackground(SomDC dc, const SomRect*) override { m_background.DrawFrame(dc, 0, 0, 0); }

 protected:
  CWndClassInfo GetWndClassInfo() const override {
    CWndClassInfo info;
    info.name = L"GalleryDownload";
    return info;
  }
  void OnFinalMessage(HWND) override { ::PostQuitMessage(0); }

 private:
  // The window's own elements from its layout table, with sample texts where
  // the window fills them in at run time.
  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    namespace layout = download_layout;
    SkinTable& skin = TheSkinTable();
    PlaceSkinButton(this, m_close, layout::kClose, skin, kStyle3);
    PlaceSkinButton(this, m_minimize, layout::kMinimize, skin, kStyle3);
    PlaceSkinButton(this, m_feedback, layout::kFeedback, skin, kStyle3);
    PlacePictureButton(this, m_download, layout::kDownload, &m_bmpDownload, kStyle3);
    PlaceBar(this, m_progress, layout::kProgress, kStyle3);
    m_progress.SetProgressPos(50);
    m_progress.SetLabel(L"512.00MB/1.00GB");
    PlaceText(this, m_title, layout::kTitle, L"{&#color=0xffffff}Brenva网游戏下载器-幻想之城专版", kStyle3);
    PlaceText(this, m_pathCaption, layout::kPathCaption, layout::kPathCaption.text, kStyle3);
    PlaceText(this, m_path, layout::kPath, layout::kPath.text, kStyle3);
    PlaceText(this, m_open, layout::kOpenLink,
              LinkMarkup(layout::kOpenLink.id, layout::kOpenLinkColour, layout::kOpenLink.text), kStyle3);
    PlaceText(this, m_speed, layout::kSpeed, L"速度：1024.0KB/s", kStyle3);
    PlaceText(this, m_progressCaption, layout::kProgressCaption, layout::kProgressCaption.text, kStyle3);
    m_check.Create(this, layout::kCompanionBox.id, kStyle3);
    m_check.SetCheck(true);
    m_check.SetPos(layout::kCompanionBox.x, layout::kCompanionBox.y);
    PlaceText(this, m_checkLabel, layout::kCompanionLabel, layout::kCompanionLabel.text, kStyle3);
    PlaceText(this, m_promotion, layout::kPromotion,
              LinkMarkup(layout::kPromotion.id, layout::kPromotionColour, layout::kPromotion.text), kStyle3);

    const RECT webRect = WebRect();
    bool viewMade = false;
    if (!m_webUrl.empty()) {
      viewMade = m_web.CreateBrowser(nullptr, L"about:blank", m_hWnd, webRect, 0, 0, 0, nullptr, 0x24009F) != nullptr;
      PrintLine(L"web-view %d", viewMade ? 1 : 0);
      m_web.Navigate(m_webUrl.c_str());
    }
    if (!viewMade) ShowStandBy();
    return 0;
  }

  static RECT WebRect() {
    const LayoutRect& web = download_layout::kWeb;
    return RECT{web.left, web.top, web.right, web.bottom};
  }

  void ShowStandBy() {
    if (m_defaultPage.IsWindow()) return;
    if (m_web.m_hWnd) m_web.ShowElement(FALSE);
    m_defaultPage.Create(m_hWnd, WebRect(), nullptr, WS_CHILD | WS_VISIBLE);
  }

  LRESULT OnWebNavError(UINT, WPARAM, LPARAM, BOOL&) {
    PrintLine(L"web-nav-error");
    ShowStandBy();
    return 0;
  }
  LRESULT OnCommand(UINT, WPARAM wParam, LPARAM, BOOL&) {
    PrintLine(L"command %u", static_cast<unsigned>(LOWORD(wParam)));
    return 0;
  }

  std::wstring m_webUrl;
  CSomBitmap m_background;
  CSomBitmap m_bmpDownload;
  CSomBitmap m_bmpCheck;
  CSomButton4 m_close;
  CSomButton4 m_minimize;
  CSomButton4 m_feedback;
  CSomButton4 m_download;
  CTextProgress m_progress;
  CSomTextWnd m_title;
  CSomTextWnd m_pathCaption;
  CSomTextWnd m_path;
  CSomTextWnd m_open;
  CSomTextWnd m_speed;
  CSomTextWnd m_progressCaption;
  CSomCheckBox m_check;
  CSomTextWnd m_checkLabel;
  CSomTextWnd m_promotion;
  CSomHtmlView m_web;
  CDefaultWebWnd m_defaultPage;
};

// The prompts' shared images as the program loads them: "image ID FRAME-WIDTH HEIGHT ALPHA".
int ListPromptImages() {
  SkinTable& skin = TheSkinTable();
  struct Entry {
    int id;
    CSomBitmap* bitmap;
  } entries[] = {{102, &skin.m_bmpClose},         {112, &skin.m_bmpWarning},   {125, &skin.m_bmpPromptBackground},
                 {126, &skin.m_bmpCloseLabel},    {127, &skin.m_bmpChangeDir}, {128, &skin.m_bmpDownload},
                 {129, &skin.m_bmpDownloadAgain}, {130, &skin.m_bmpRetry},     {134, &skin.m_bmpContinue},
                 {135, &skin.m_bmpInstallNow},    {136, &skin.m_bmpFeedback}};
  for (const Entry& e : entries)
    PrintLine(L"image %d %d %d %d", e.id, e.bitmap->GetFrameWidth(), e.bitmap->GetHeight(),
              e.bitmap->HasAlpha() ? 1 : 0);
  return 0;
}

template <typename Window>
int RunWindow(Window& window, int cx, int cy) {
  RECT rc = {100, 100, 100 + cx, 100 + cy};
  if (!window.Create(nullptr, rc, L"Gallery", WS_POPUP | WS_VISIBLE)) return 1;
  AnnounceWindow(window);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}

std::wstring Option(int argc, wchar_t** argv, const wchar_t* name) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::wcscmp(argv[i], name) == 0) return argv[i + 1];
  return L"";
}

bool Flag(int argc, wchar_t** argv, const wchar_t* name) {
  for (int i = 1; i < argc; ++i)
    if (std::wcscmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    PrintLine(L"usage: gallery prompt NAME | main | download");
    return 2;
  }
  ::OleInitialize(nullptr);
  // As the program's start-up does: the skin's GDI services, memory DC and table.
  InstallSkinServices();
  std::wstring what = argv[1];
  int code = 2;
  if (what == L"prompt" && argc >= 3) {
    code = RunPrompt(argv[2], Flag(argc, argv, L"--alt"), Option(argc, argv, L"--url"));
  } else if (what == L"images") {
    code = ListPromptImages();
  } else if (what == L"main") {
    CMainGalleryWnd window;
    code = RunWindow(window, 400, 200);
  } else if (what == L"download") {
    CDownloadGalleryWnd window(Option(argc, argv, L"--web"));
    code = RunWindow(window, 680, 420);
  }
  ::OleUninitialize();
  return code;
}
