#include "download/taskbar_progress_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what the shell would be asked.
class StandInTaskbar : public ITaskbarList3 {
 public:
  std::vector<std::string> calls;
  HRESULT init = S_OK;
  LONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE HrInit() override {
    calls.push_back("init");
    return init;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG flag) override {
    calls.push_back("state " + std::to_string(static_cast<int>(flag)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
    calls.push_back("value " + std::to_string(done) + "/" + std::to_string(total));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

struct Step {
  int mode;  // -1: the shell says the button was made
  int percent;
  std::vector<std::string> calls;
};

// TBPF_NOPROGRESS 0, TBPF_NORMAL 2, TBPF_ERROR 4, TBPF_PAUSED 8.
TEST(TaskbarProgress, TheButtonFollowsTheWindowsModeAndHearsOnlyOfChanges) {
  const Step steps[] = {
      {2, 10, {}},  // no button yet: remembered
      {-1, 0, {"init", "state 2", "value 10/100"}},
      {2, 10, {}},
      {2, 11, {"value 11/100"}},
      {1, 11, {"state 8"}},
      {2, 40, {"state 2", "value 40/100"}},
      {4, 40, {"state 4"}},
      {3, 100, {"state 0"}},
      {0, 0, {}},
      {-1, 0, {"init", "state 0"}},  // the shell restarted
      {2, 150, {"state 2", "value 100/100"}},
  };
  StandInTaskbar shell;
  {
    CTaskbarProgress progress;
    int n = 0;
    for (const Step& s : steps) {
      shell.calls.clear();
      if (s.mode < 0)
        progress.OnButtonCreated(reinterpret_cast<HWND>(1), &shell);
      else
        progress.Show(s.mode, s.percent);
      EXPECT_EQ(shell.calls, s.calls) << "step " << n;
      ++n;
    }
  }
  EXPECT_EQ(shell.refs, 1) << "every reference taken is given back";
}

TEST(TaskbarProgress, AShellThatRefusesLeavesEverythingElseAsItIs) {
  StandInTaskbar shell;
  shell.init = E_FAIL;
  CTaskbarProgress progress;
  progress.OnButtonCreated(reinterpret_cast<HWND>(1), &shell);
  progress.Show(2, 50);
  EXPECT_EQ(shell.calls, std::vector<std::string>{"init"});
  EXPECT_EQ(CTaskbarProgress::ButtonCreatedMessage(), ::RegisterWindowMessageW(L"TaskbarButtonCreated"));
}

}  // namespace
