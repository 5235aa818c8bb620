#include "skin/som_platform.h"

namespace {

// Where there is no window system nothing is shown and no input arrives.
class NullSomPlatform final : public ISomPlatform {
 public:
  void SetTimer(SomWindow, unsigned, unsigned) override {}
  void KillTimer(SomWindow, unsigned) override {}
  SomWindow GetCapture() override { return nullptr; }
  void SetCapture(SomWindow) override {}
  void ReleaseCapture() override {}
  SomLong SendHostMessage(SomWindow, unsigned, SomWParam, SomLong) override { return 0; }
  int PostHostMessage(SomWindow, unsigned, SomWParam, SomLong) override { return 0; }
  void InvalidateRect(SomWindow, const SomRect*) override {}
  void UpdateWindow(SomWindow) override {}
  SomPoint GetCursorClientPos(SomWindow) override { return SomPoint{-1, -1}; }
  bool IsCursorOverClient(SomWindow) override { return false; }
  SomDC GetDC(SomWindow) override { return nullptr; }
  void ReleaseDC(SomWindow, SomDC) override {}
  void PaintWindow(SomWindow, const std::function<void(SomDC, const SomRect&)>&) override {}
  SomRect GetClipBox(SomDC) override { return SomRect{}; }
  void IntersectClipRect(SomDC, const SomRect&) override {}
  void ExcludeClipRect(SomDC, const SomRect&) override {}
  SomDC CreateBuffer(int, int) override { return nullptr; }
  void DeleteBuffer(SomDC) override {}
  void SetViewportOrg(SomDC, int, int, SomPoint* old) override {
    if (old) *old = SomPoint{};
  }
  void OffsetViewportOrg(SomDC, int, int, SomPoint* old) override {
    if (old) *old = SomPoint{};
  }
  void BitBlt(SomDC, const SomRect&, SomDC, int, int) override {}
  void FillClassBackground(SomWindow, SomDC, const SomRect&) override {}
  SomNotifyInfo ReadNotify(SomLong) override { return SomNotifyInfo{}; }
  bool IsWindow(SomWindow) override { return false; }
  void AddTool(SomWindow, SomWindow, unsigned, const SomRect&) override {}
  void DelTool(SomWindow, SomWindow, unsigned) override {}
};

NullSomPlatform g_nullPlatform;
ISomPlatform* g_platform = nullptr;

}  // namespace

ISomPlatform& SomPlatform() { return g_platform ? *g_platform : g_nullPlatform; }

void SetSomPlatform(ISomPlatform* platform) { g_platform = platform; }
