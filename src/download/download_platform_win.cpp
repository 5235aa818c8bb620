#include "download/download_platform_win.h"

#include <windows.h>

// These need the types of windows.h.
#include <psapi.h>
#include <shlwapi.h>

#include <vector>

#include "base/scoped_win.h"
#include "stats/report.h"
#include "verify/file_check_win.h"

bool IsCompanionMutexTaken() {
  // A null access list lets a process of any user open the mutex.
  SECURITY_DESCRIPTOR descriptor;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  ScopedKernelHandle mutex(::CreateMutexW(&attributes, FALSE, kCompanionMutexName));
  const DWORD error = ::GetLastError();
  if (!mutex) return false;
  // Kept open on purpose: while this process lives, the mark stays. The first
  // handle keeps it; those of later tests add nothing.
  static ScopedKernelHandle kept;
  if (!kept) kept = std::move(mutex);
  return error == ERROR_ALREADY_EXISTS;
}

namespace {

bool ScreenSize(int* width, int* height) {
  HMONITOR monitor = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFOEXW info;
  info.cbSize = sizeof info;
  if (monitor == nullptr || !::GetMonitorInfoW(monitor, &info)) return false;
  DEVMODEW mode = {};
  mode.dmSize = sizeof mode;
  if (!::EnumDisplaySettingsW(info.szDevice, ENUM_CURRENT_SETTINGS, &mode)) return false;
  *width = static_cast<int>(mode.dmPelsWidth);
  *height = static_cast<int>(mode.dmPelsHeight);
  return *width > 0 && *height > 0;
}

bool CoversScreen(HWND window, int width, int height) {
  RECT rect;
  return ::GetWindowRect(window, &rect) && rect.left == 0 && rect.top == 0 && rect.right == width &&
         rect.bottom == height;
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  return pid <= 3 ? 0 : pid;
}

std::wstring ImageNameOf(DWORD pid) {
  ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) process.Reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::wstring();
  wchar_t path[MAX_PATH] = {};
  if (::GetModuleFileNameExW(process.Get(), nullptr, path, MAX_PATH) == 0) {
    DWORD size = MAX_PATH;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &size)) return std::wstring();
  }
  return ::PathFindFileNameW(path);
}

bool NoForegroundButTopmostCover(int width, int height) {
  HWND window = ::GetTopWindow(nullptr);
  for (int i = 0; window != nullptr && i < 1000; ++i, window = ::GetWindow(window, GW_HWNDNEXT)) {
    if (!::IsWindowVisible(window) || ::IsIconic(window)) continue;
    if ((::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0) continue;
    if (CoversScreen(window, width, height)) return true;
  }
  return false;
}

}  // namespace

bool IsFullScreenAppActive() {
  int width = 0;
  int height = 0;
  if (!ScreenSize(&width, &height)) return false;

  HWND foreground = ::GetForegroundWindow();
  if (foreground == nullptr) return NoForegroundButTopmostCover(width, height);
  if (foreground == ::GetDesktopWindow() || foreground == ::GetShellWindow()) return false;
  const DWORD pid = ProcessOf(foreground);
  HWND shell = ::GetShellWindow();
  if (shell != nullptr && pid != 0 && ProcessOf(shell) == pid) return false;
  const std::wstring image = ImageNameOf(pid);
  if (::lstrcmpiW(image.c_str(), L"explorer.exe") == 0 || ::lstrcmpiW(image.c_str(), L"taskmgr.exe") == 0) {
    return false;
  }

  if (CoversScreen(foreground, width, height) && (::WindowFromPoint(POINT{0, 0}) == nullptr || pid == 0)) {
    return true;
  }

  // Every edge of the screen must belong to the foreground program.
  const int w = width - 1;
  const int h = height - 1;
  const POINT edges[4][2] = {
      {{w / 16, 0}, {w * 15 / 16, 0}},
      {{w, h / 16}, {w, h * 15 / 16}},
      {{w / 16, h}, {w * 15 / 16, h}},
      {{0, h / 16}, {0, h * 15 / 16}},
  };
  bool otherWindowHit = false;
  for (const auto& edge : edges) {
    bool edgeHit = false;
    for (const POINT& point : edge) {
      HWND under = ::WindowFromPoint(point);
      if (under == nullptr) continue;
      const bool sameProcess = pid != 0 && ProcessOf(under) == pid;
      const bool sameWindow = under == foreground || ::GetAncestor(under, GA_ROOT) == foreground;
      if (otherWindowHit ? sameProcess : (sameWindow || sameProcess)) {
        if (!sameWindow) otherWindowHit = true;
        edgeHit = true;
        break;
      }
    }
    if (!edgeHit) return false;
  }
  return true;
}

bool CWinDiskSystem::PathExists(const std::wstring& path) {
  return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CWinDiskSystem::GetFileSystemName(const std::wstring& root, std::wstring* name) {
  wchar_t volume[256] = {};
  wchar_t system[256] = {};
  DWORD serial = 0;
  DWORD maxComponent = 0;
  DWORD flags = 0;
  if (!::GetVolumeInformationW(root.c_str(), volume, 255, &serial, &maxComponent, &flags, system, 255)) return false;
  *name = system;
  return true;
}

bool CWinDiskSystem::CreateDir(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool CWinDiskSystem::RemoveDir(const std::wstring& path) { return ::RemoveDirectoryW(path.c_str()) != 0; }

bool CWinDiskSystem::GetFreeBytes(const std::wstring& dir, uint64_t* freeBytes) {
  ULARGE_INTEGER available;
  ULARGE_INTEGER total;
  ULARGE_INTEGER totalFree;
  if (!::GetDiskFreeSpaceExW(dir.c_str(), &available, &total, &totalFree)) return false;
  *freeBytes = totalFree.QuadPart;
  return true;
}

uint64_t CWinDiskSystem::FileSize(const std::wstring& path) { return FileSizeForCheck(path); }

std::vector<std::wstring> CWinDiskSystem::SuiteDirs() {
  static const wchar_t* const kKeys[] = {
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tarnsafe.exe",
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tarnsd.exe",
  };
  std::vector<std::wstring> dirs;
  for (const wchar_t* key : kKeys) {
    wchar_t value[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD bytes = MAX_PATH * sizeof(wchar_t);
    if (::SHGetValueW(HKEY_LOCAL_MACHINE, key, L"path", &type, value, &bytes) != ERROR_SUCCESS) continue;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    dirs.emplace_back(value);
  }
  return dirs;
}

uint32_t CWinDiskSystem::LogicalDrives() { return ::GetLogicalDrives(); }

void CWinDiskSystem::QuietDriveErrors(bool quiet) {
  if (quiet) {
    if (m_quietDepth++ == 0) {
      m_savedErrorMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
      ::SetErrorMode(m_savedErrorMode | SEM_FAILCRITICALERRORS);
    }
  } else if (m_quietDepth > 0 && --m_quietDepth == 0) {
    ::SetErrorMode(m_savedErrorMode);
  }
}

void CWinDiskSystem::DeletePath(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

bool CWinDiskSystem::IsFileComplete(const std::wstring& path, uint64_t size) { return ::IsFileComplete(path, size); }

bool CWinDiskSystem::VerifyFileMd5(const std::wstring& path, const std::wstring& md5Text) {
  return ::VerifyFileMd5(path, md5Text);
}

void CStatsReportSink::Report(const std::wstring& action, const std::wstring& eventName, int tg, int cg, int cwdm,
                              const PeerFigures& peers) {
  ::Report(m_base, action, eventName, tg, cg, cwdm, peers);
}
