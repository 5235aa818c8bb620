#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "app/process_objects.h"
#include "app/startup_window_win.h"
#include "base/scoped_win.h"
#include "companion/startup_data_dir_win.h"
#include "config/downloader_config.h"
#include "stats/statistics_mgr.h"
#include "ui/message_loop_win.h"

namespace {

constexpr WPARAM ID_ACTIVATE_INSTANCE = 2025;

// The system dialog class under our own name; no window uses it, it only
// has to exist.
void RegisterWavepullClass(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  if (!::GetClassInfoExW(nullptr, L"#32770", &wc)) return;
  wc.cbSize = sizeof(wc);
  wc.hInstance = instance;
  wc.lpszClassName = L"Wavepull";
  ::RegisterClassExW(&wc);
}

int Run(HINSTANCE instance) {
  CMessageLoop loop;
  UiModule().AddMessageLoop(&loop);
  if (g_statisticsMgr) g_statisticsMgr->Start();

  CStartupWnd mainWnd;
  RegisterWavepullClass(instance);

  wchar_t title[256];
  std::swprintf(title, 256, L"Brenva网游戏下载器-%ls专版", DownloaderConfig().GetGameName().c_str());
  RECT rect = {0, 0, 400, 200};
  int exitCode = 0;
  if (mainWnd.Create(nullptr, rect, title, WS_POPUP | WS_VISIBLE | WS_SYSMENU, 0)) {
    mainWnd.CenterWindow();
    ::ShowWindow(mainWnd.Handle(), SW_SHOWNORMAL);
    loop.Run();
  }
  // Without a main window nothing would ever post WM_QUIT: leave at once.
  UiModule().RemoveMessageLoop();
  return exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  ::CoInitialize(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&icc);
  UiModule().Init(instance);
  PrepareStartupDataDirectory(instance);

  std::wstring key = DownloaderConfig().GetGameKey();
  ScopedKernelHandle mutex(::CreateMutexW(nullptr, FALSE, key.c_str()));
  if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    mutex.Reset();
    HWND running = ::FindWindowW(key.c_str(), nullptr);
    if (running) ::SendMessageW(running, WM_COMMAND, ID_ACTIVATE_INSTANCE, 0);
    return 0;
  }

  int exitCode = Run(instance);
  UiModule().Term();
  ::CoUninitialize();
  // The single-instance mutex stays held until the process has ended.
  mutex.Release();
  return exitCode;
}
