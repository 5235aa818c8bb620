#pragma once

#include <windows.h>

#include <vector>

// Sees every message of the thread before it is dispatched; returning true
// swallows it.
class CMessageFilter {
 public:
  virtual bool PreTranslateMessage(MSG* msg) = 0;

 protected:
  ~CMessageFilter() = default;
};

// The thread's message loop with its filters.
class CMessageLoop {
 public:
  void AddMessageFilter(CMessageFilter* filter) { m_filters.push_back(filter); }
  void RemoveMessageFilter(CMessageFilter* filter);
  // Runs until WM_QUIT; returns its exit code.
  int Run();

 private:
  std::vector<CMessageFilter*> m_filters;
};

// The UI module: the instance handle resources are loaded from, and the
// message loop of the UI thread.
class CUiModule {
 public:
  void Init(HINSTANCE instance) { m_instance = instance; }
  void Term() { m_loop = nullptr; }
  HINSTANCE GetResourceInstance() const { return m_instance; }
  void AddMessageLoop(CMessageLoop* loop) { m_loop = loop; }
  void RemoveMessageLoop() { m_loop = nullptr; }
  CMessageLoop* GetMessageLoop() const { return m_loop; }

 private:
  HINSTANCE m_instance = nullptr;
  CMessageLoop* m_loop = nullptr;
};

CUiModule& UiModule();
