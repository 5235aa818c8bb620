#pragma once

#include <windows.h>

#include <functional>
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
  // A nested loop for modal windows: runs until done() answers true (asked
  // before each wait; returns true) or until WM_QUIT, which is posted again
  // for the outer loop (returns false).
  bool RunUntil(const std::function<bool()>& done);

 private:
  // Offers msg to the filters, newest first; true when one swallowed it.
  bool PreTranslate(MSG* msg);

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
