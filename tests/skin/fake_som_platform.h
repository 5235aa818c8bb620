#pragma once

// A window system in memory for the element manager: records what the
// manager asks for and delivers capture changes the way Windows does.
#include <map>
#include <string>
#include <vector>

#include "skin/som_platform.h"
#include "skin/som_wnd_manager.h"

inline SomWindow FakeWindow(std::uintptr_t n) { return reinterpret_cast<SomWindow>(n); }
inline SomDC FakeDC(std::uintptr_t n) { return reinterpret_cast<SomDC>(n); }

class FakeSomPlatform final : public ISomPlatform {
 public:
  struct Sent {
    unsigned msg;
    SomWParam wParam;
    SomLong lParam;
  };

  // The manager that receives WM_CAPTURECHANGED when the capture is released.
  CSomWndManager* manager = nullptr;
  SomWindow capture = nullptr;
  bool cursorOverClient = true;
  SomPoint cursor;
  bool buffersFail = false;

  std::vector<Sent> sent;
  std::vector<SomRect> invalidated;
  int updateWindowCalls = 0;
  std::vector<std::string> timers;
  std::vector<SomRect> excluded;
  std::vector<SomRect> clipped;
  std::vector<std::pair<SomDC, SomRect>> backgrounds;
  std::vector<std::pair<SomDC, SomRect>> blits;
  int buffersMade = 0;
  int buffersDeleted = 0;
  int dcsTaken = 0;
  int dcsReleased = 0;
  std::map<SomDC, SomPoint> origin;
  SomRect clipBox{0, 0, 500, 300};

  static constexpr std::uintptr_t kWindowDC = 0x100;
  static constexpr std::uintptr_t kBufferDC = 0x200;

  void SetTimer(SomWindow, unsigned id, unsigned ms) override {
    timers.push_back("set " + std::to_string(id) + " " + std::to_string(ms));
  }
  void KillTimer(SomWindow, unsigned id) override { timers.push_back("kill " + std::to_string(id)); }
  SomWindow GetCapture() override { return capture; }
  void SetCapture(SomWindow hwnd) override { capture = hwnd; }
  void ReleaseCapture() override {
    if (!capture) return;
    SomWindow old = capture;
    capture = nullptr;
    SomLong result = 0;
    if (manager) manager->ProcessWindowMessage(old, som_msg::kCaptureChanged, 0, 0, result);
  }
  SomLong SendHostMessage(SomWindow, unsigned msg, SomWParam wParam, SomLong lParam) override {
    sent.push_back(Sent{msg, wParam, lParam});
    return 0;
  }
  int PostHostMessage(SomWindow, unsigned msg, SomWParam wParam, SomLong lParam) override {
    sent.push_back(Sent{msg, wParam, lParam});
    return 1;
  }
  void InvalidateRect(SomWindow, const SomRect* rect) override { invalidated.push_back(rect ? *rect : SomRect{}); }
  void UpdateWindow(SomWindow) override { ++updateWindowCalls; }
  SomPoint GetCursorClientPos(SomWindow) override { return cursor; }
  bool IsCursorOverClient(SomWindow) override { return cursorOverClient; }
  SomDC GetDC(SomWindow) override {
    ++dcsTaken;
    origin[FakeDC(kWindowDC)] = SomPoint{};
    return FakeDC(kWindowDC);
  }
  void ReleaseDC(SomWindow, SomDC) override { ++dcsReleased; }
  void PaintWindow(SomWindow, const std::function<void(SomDC, const SomRect&)>& paint) override {
    origin[FakeDC(kWindowDC)] = SomPoint{};
    paint(FakeDC(kWindowDC), clipBox);
  }
  SomRect GetClipBox(SomDC) override { return clipBox; }
  void IntersectClipRect(SomDC, const SomRect& rect) override { clipped.push_back(rect); }
  void ExcludeClipRect(SomDC, const SomRect& rect) override { excluded.push_back(rect); }
  SomDC CreateBuffer(int cx, int cy) override {
    if (buffersFail || cx != 1024 || cy != 128) return nullptr;
    ++buffersMade;
    origin[FakeDC(kBufferDC)] = SomPoint{};
    return FakeDC(kBufferDC);
  }
  void DeleteBuffer(SomDC) override { ++buffersDeleted; }
  void SetViewportOrg(SomDC dc, int x, int y, SomPoint* old) override {
    if (old) *old = origin[dc];
    origin[dc] = SomPoint{x, y};
  }
  void OffsetViewportOrg(SomDC dc, int dx, int dy, SomPoint* old) override {
    if (old) *old = origin[dc];
    origin[dc] = SomPoint{origin[dc].x + dx, origin[dc].y + dy};
  }
  void BitBlt(SomDC dst, const SomRect& rect, SomDC, int, int) override { blits.emplace_back(dst, rect); }
  void FillClassBackground(SomWindow, SomDC dc, const SomRect& rect) override {
    backgrounds.emplace_back(dc, rect);
    backgroundOrigins.push_back(origin[dc]);
  }
  std::vector<SomPoint> backgroundOrigins;
  SomNotifyInfo ReadNotify(SomLong lParam) override { return *reinterpret_cast<SomNotifyInfo*>(lParam); }
  bool IsWindow(SomWindow hwnd) override { return hwnd != nullptr; }
  void AddTool(SomWindow, SomWindow, unsigned id, const SomRect& rect) override { tools[id] = rect; }
  void DelTool(SomWindow, SomWindow, unsigned id) override { tools.erase(id); }
  std::map<unsigned, SomRect> tools;

  std::vector<Sent> Commands() const {
    std::vector<Sent> out;
    for (const Sent& s : sent) {
      if (s.msg == som_msg::kCommand) out.push_back(s);
    }
    return out;
  }
};

// A manager wired to a fake platform and already attached to a window, as
// after the window's first message.
class TestHost : public CSomWndManager {
 public:
  static constexpr std::uintptr_t kHwnd = 0x1234;
  FakeSomPlatform platform;

  TestHost() {
    platform.manager = this;
    SetPlatform(&platform);
    Send(0x0001 /* WM_CREATE */);
  }
  SomLong Send(unsigned msg, SomWParam wParam = 0, SomLong lParam = 0, bool* handled = nullptr) {
    SomLong result = -7;
    bool h = ProcessWindowMessage(FakeWindow(kHwnd), msg, wParam, lParam, result);
    if (handled) *handled = h;
    return result;
  }
  static SomLong At(int x, int y) { return static_cast<SomLong>((y & 0xFFFF) << 16 | (x & 0xFFFF)); }
  bool Mouse(unsigned msg, int x, int y) {
    bool handled = false;
    Send(msg, 0, At(x, y), &handled);
    return handled;
  }
  void Tick() { Send(som_msg::kTimer, kTickTimerId); }
};
