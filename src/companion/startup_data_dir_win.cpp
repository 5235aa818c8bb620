#include "companion/startup_data_dir_win.h"

#include <string>

void PrepareStartupDataDirectory(HINSTANCE instance) {
  wchar_t module[MAX_PATH] = {};
  DWORD n = ::GetModuleFileNameW(instance, module, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  std::wstring dir(module);
  dir.erase(dir.find_last_of(L'\\') + 1);
  std::wstring ini = dir + L"dpath.ini";
  wchar_t value[MAX_PATH] = {};
  ::GetPrivateProfileStringW(L"main", L"datapath", dir.c_str(), value, MAX_PATH, ini.c_str());
  if (value[0] && ::GetFileAttributesW(value) == INVALID_FILE_ATTRIBUTES) ::CreateDirectoryW(value, nullptr);
}
