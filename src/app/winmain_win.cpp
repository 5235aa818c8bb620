#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "app/init_flow.h"
#include "app/main_dlg_win.h"
#include "base/scoped_win.h"
#include "companion/startup_data_dir_win.h"
#include "config/downloader_config.h"
#include "download/download_ids.h"
#include "skin/skin_table_win.h"
#include "stats/statistics_mgr.h"
#include "ui/message_loop_win.h"

namespace {

constexpr WPARAM ID_ACTIVATE_INSTANCE = kCmdActivate;

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
  StatisticsMgr().Start();

  CMainDlg mainDlg;
  RegisterWavepullClass(instance);
  loop.AddMessageFilter(&mainDlg);

  // The configuration is not read yet, so the game's name is empty here.
  const std::wstring title = DownloaderTitle(DownloaderConfig().GetGameName());
  RECT rect = {0, 0, 400, 200};
  if (mainDlg.Create(nullptr, rect, title.c_str(), WS_POPUP | WS_VISIBLE | WS_SYSMENU, 0)) {
    mainDlg.CenterWindow();
    mainDlg.ShowWindow(SW_SHOWNORMAL);
    loop.Run();
  }
  // Without a main window nothing would ever post WM_QUIT: leave at once.
  UiModule().RemoveMessageLoop();
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  ScopedCoInit com;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&icc);
  InstallSkinServices();
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
  // The single-instance mutex stays held until the process has ended.
  mutex.Release();
  return exitCode;
}
