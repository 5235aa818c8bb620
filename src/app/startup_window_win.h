#pragma once

#include <windows.h>

#include <thread>

// The small window shown while the configuration is fetched on a worker
// thread. It stands where the skinned initialization window will go.
class CStartupWnd {
 public:
  static constexpr UINT WM_INITNOTIFY = 2024;

  CStartupWnd() = default;
  ~CStartupWnd();
  CStartupWnd(const CStartupWnd&) = delete;
  CStartupWnd& operator=(const CStartupWnd&) = delete;

  HWND Create(HWND parent, const RECT& rect, const wchar_t* title, DWORD style, DWORD exStyle);
  HWND Handle() const { return m_hwnd; }
  void CenterWindow();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnCreate();
  void OnInitNotify(WPARAM wParam, LPARAM lParam);
  void OnInitFinished(int result);
  void ShowDownloadWindow(int result, const wchar_t* title);
  void Paint(HDC dc, const RECT& client);

  HWND m_hwnd = nullptr;
  std::thread m_worker;
  int m_progress = 0;
  int m_initResult = -1;
  bool m_handedOver = false;
};
