#include "app/startup_window_win.h"

#include <cstdio>
#include <string>

#include "app/process_objects.h"
#include "config/downloader_config.h"
#include "config/first_item.h"
#include "download/dl_dlg_win.h"

namespace {

// Each window object gets its own automatically named class.
std::wstring AutoClassName(const void* owner) {
  wchar_t name[32];
  std::swprintf(name, 32, L"GD:%p", owner);
  return name;
}

}  // namespace

CStartupWnd::~CStartupWnd() {
  if (m_hwnd) ::DestroyWindow(m_hwnd);
  // The worker talks to the window only through SendMessage to a handle, so
  // letting it finish on its own after the window is gone is safe.
  if (m_worker.joinable()) m_worker.detach();
}

HWND CStartupWnd::Create(HWND parent, const RECT& rect, const wchar_t* title, DWORD style, DWORD exStyle) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  std::wstring className = AutoClassName(this);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = &CStartupWnd::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className.c_str();
  if (!::RegisterClassExW(&wc)) return nullptr;
  return ::CreateWindowExW(exStyle, className.c_str(), title, style, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top, parent, nullptr, instance, this);
}

void CStartupWnd::CenterWindow() {
  RECT window;
  ::GetWindowRect(m_hwnd, &window);
  RECT area;
  HWND owner = ::GetWindow(m_hwnd, GW_OWNER);
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  ::GetMonitorInfoW(::MonitorFromWindow(m_hwnd, MONITOR_DEFAULTTONEAREST), &mi);
  RECT bounds = mi.rcWork;
  if (owner) {
    ::GetWindowRect(owner, &area);
  } else {
    area = bounds;
  }
  int w = window.right - window.left, h = window.bottom - window.top;
  int x = (area.left + area.right) / 2 - w / 2;
  int y = (area.top + area.bottom) / 2 - h / 2;
  if (x + w > bounds.right) x = bounds.right - w;
  if (x < bounds.left) x = bounds.left;
  if (y + h > bounds.bottom) y = bounds.bottom - h;
  if (y < bounds.top) y = bounds.top;
  ::SetWindowPos(m_hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK CStartupWnd::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CStartupWnd* self = reinterpret_cast<CStartupWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    self = static_cast<CStartupWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->m_hwnd = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  LRESULT result = self->HandleMessage(msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->m_hwnd = nullptr;
  }
  return result;
}

LRESULT CStartupWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      OnCreate();
      return 0;
    case WM_INITNOTIFY:
      OnInitNotify(wParam, lParam);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(m_hwnd, &ps);
      RECT client;
      ::GetClientRect(m_hwnd, &client);
      Paint(dc, client);
      ::EndPaint(m_hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      // Handing over to the download window must not end the program.
      if (!m_handedOver) ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(m_hwnd, msg, wParam, lParam);
  }
}

void CStartupWnd::OnCreate() {
  HWND hwnd = m_hwnd;
  m_worker = std::thread([hwnd] {
    CallBack callback(hwnd);
    int result = DownloaderConfig().Initialize(&callback);
    ::SendMessageW(hwnd, WM_INITNOTIFY, static_cast<WPARAM>(result), 6);
  });
}

void CStartupWnd::OnInitNotify(WPARAM wParam, LPARAM lParam) {
  if (lParam == 5) {
    m_progress = static_cast<int>(wParam);
    ::InvalidateRect(m_hwnd, nullptr, TRUE);
  } else if (lParam == 6) {
    OnInitFinished(static_cast<int>(wParam));
  }
}

void CStartupWnd::OnInitFinished(int result) {
  m_initResult = result;
  m_progress = 40;
  CDownloaderConfig& config = DownloaderConfig();
  PendingItems.clear();
  TotalGameSize = 0;
  if (result == INIT_ALL_FETCHED || result == INIT_SKIN_NOT_FETCHED) {
    for (const GameFileEntry& entry : config.GetFileList()) {
      PendingItems.push_back(entry);
      TotalGameSize += entry.size;
    }
  }
  wchar_t title[512];
  std::swprintf(title, 512, L"Brenva网游戏下载器-%ls专版", config.GetGameName().c_str());
  ::SetWindowTextW(m_hwnd, title);
  ::InvalidateRect(m_hwnd, nullptr, TRUE);
  if ((result == INIT_ALL_FETCHED || result == INIT_SKIN_NOT_FETCHED) &&
      IsFirstDownloadItemUsable(PendingItems, config.GetGameKey())) {
    ShowDownloadWindow(result, title);
  }
}

void CStartupWnd::ShowDownloadWindow(int result, const wchar_t* title) {
  CDownloaderConfig& config = DownloaderConfig();
  const std::wstring skin = config.GetSkinPath();
  CDLDlg* window =
      (result == INIT_ALL_FETCHED && !skin.empty() && ::GetFileAttributesW(skin.c_str()) != INVALID_FILE_ATTRIBUTES)
          ? new CDLDlg(skin)
          : new CDLDlg();
  m_handedOver = true;
  ::DestroyWindow(m_hwnd);
  RECT rect = {0, 0, 400, 100};
  // The window deletes itself when it is destroyed.
  if (!window->Create(nullptr, rect, title, 0x90080000)) {
    delete window;
    ::PostQuitMessage(0);
    return;
  }
  window->ShowWindow(SW_SHOW);
}

void CStartupWnd::Paint(HDC dc, const RECT& client) {
  ::SetBkMode(dc, TRANSPARENT);
  RECT text = {20, 40, client.right - 20, 70};
  std::wstring line = L"正在初始化...";
  if (m_initResult >= 0) {
    wchar_t buffer[256];
    std::swprintf(buffer, 256, L"初始化结果 %d：%u 个文件，共 %llu 字节", m_initResult,
                  static_cast<unsigned>(PendingItems.size()), static_cast<unsigned long long>(TotalGameSize));
    line = buffer;
  }
  ::DrawTextW(dc, line.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
  RECT frame = {20, 100, client.right - 20, 116};
  ::FrameRect(dc, &frame, static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH)));
  RECT bar = frame;
  ::InflateRect(&bar, -2, -2);
  bar.right = bar.left + (bar.right - bar.left) * m_progress / 40;
  ::FillRect(dc, &bar, static_cast<HBRUSH>(::GetStockObject(DKGRAY_BRUSH)));
}
