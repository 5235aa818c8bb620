#include "download/download_host_win.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <type_traits>

#include "companion/companion_installer_win.h"
#include "config/downloader_config.h"
#include "download/download_platform_win.h"
#include "net/http_download.h"

namespace {

constexpr UINT kBrowseFlags = 81;  // file-system folders only, edit box, new dialog style

}  // namespace

CDownloadHostWin::CDownloadHostWin() : m_hasPending(std::make_shared<std::atomic<bool>>(false)) {
  m_itemMutex.Reset(::CreateMutexW(nullptr, FALSE, nullptr));
}

CDownloadHostWin::~CDownloadHostWin() { m_autoThread.Stop(); }

void CDownloadHostWin::SyncPending() {
  if (m_progress) m_hasPending->store(!m_progress->pendingItems.empty());
}

void CDownloadHostWin::SetTimer(int id) { ::SetTimer(m_window, static_cast<UINT_PTR>(id), 1000, nullptr); }

void CDownloadHostWin::KillTimer(int id) { ::KillTimer(m_window, static_cast<UINT_PTR>(id)); }

bool CDownloadHostWin::IsInternetConnected() { return ::IsInternetConnected() != 0; }

bool CDownloadHostWin::IsCompanionMutexTaken() { return ::IsCompanionMutexTaken(); }

void CDownloadHostWin::RunCompanionInstaller(const std::wstring& path) {
  RunCompanionInstallerSilently(path, DownloaderConfig().GetCompanionMd5());
}

bool CDownloadHostWin::WaitItemMutex() {
  const DWORD got = ::WaitForSingleObject(m_itemMutex.Get(), INFINITE);
  return got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
}

void CDownloadHostWin::ReleaseItemMutex() {
  // The auto-continue thread asks whether files remain as soon as it wakes.
  SyncPending();
  ::ReleaseMutex(m_itemMutex.Get());
}

bool CDownloadHostWin::IsAutoThreadRunning() { return m_autoThread.IsRunning(); }

void CDownloadHostWin::StartAutoThread() {
  SyncPending();
  std::shared_ptr<std::atomic<bool>> pending = m_hasPending;
  m_autoThread.Start(m_itemMutex.Get(), m_window, [pending] { return pending->load(); });
}

void CDownloadHostWin::StopAutoThread() { m_autoThread.Stop(); }

void CDownloadHostWin::SendCommand(int id, int lParam) {
  ::SendMessageW(m_window, WM_COMMAND, static_cast<WPARAM>(id), lParam);
}

void CDownloadHostWin::PostCommand(int id) { ::PostMessageW(m_window, WM_COMMAND, static_cast<WPARAM>(id), 0); }

bool CDownloadHostWin::BrowseForDir(std::wstring* dir) {
  BROWSEINFOW info = {};
  info.hwndOwner = m_window;
  info.lpszTitle = L"选择路径";
  info.ulFlags = kBrowseFlags;
  ScopedTaskMem<std::remove_pointer_t<PIDLIST_ABSOLUTE>> list(::SHBrowseForFolderW(&info));
  if (!list.Get()) return false;
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(list.Get(), path)) return false;
  *dir = path;
  return true;
}

void CDownloadHostWin::ShellOpen(const std::wstring& target) {
  ::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOW);
}

void CDownloadHostWin::OpenFolderAndSelect(const std::wstring& path) {
  ScopedCoInit com;
  // An item list from ILCreateFromPath is task memory.
  ScopedTaskMem<std::remove_pointer_t<PIDLIST_ABSOLUTE>> item(::ILCreateFromPathW(path.c_str()));
  if (item.Get()) ::SHOpenFolderAndSelectItems(item.Get(), 0, nullptr, 0);
}
