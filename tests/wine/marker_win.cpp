// Stands in for an installer in tests: writes "<own path>.ran" holding its
// command line arguments, and the folder it was started in, then exits.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR args, int) {
  wchar_t self[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  wchar_t cwd[MAX_PATH] = L"";
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring text = std::wstring(L"args=") + (args ? args : L"") + L"\r\ncwd=" + cwd + L"\r\n";
  std::wstring marker = std::wstring(self) + L".ran";
  HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = ::WriteFile(file, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
  ::CloseHandle(file);
  return ok ? 0 : 1;
}
