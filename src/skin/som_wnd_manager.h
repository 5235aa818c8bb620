#pragma once

// The element machinery of a skinned window: a window class derives from its
// window base first and from CSomWndManager second, and passes every message
// it did not fully handle to ProcessWindowMessage.
#include <map>
#include <vector>

#include "skin/som_platform.h"
#include "skin/som_wnd.h"

class CSomToolTipAdpater {
 public:
  struct Tool {
    CSomWnd* elem = nullptr;
    int key = 0;
    bool wholeElement = true;
    SomRect rect;  // host client coordinates when !wholeElement
  };

  // Windows that show tips attach a tooltip control and its owner window.
  void AttachToolTip(SomWindow tooltip, SomWindow owner) {
    m_hToolTip = tooltip;
    m_hToolTipOwner = owner;
  }
  SomWindow GetToolTipWindow() const { return m_hToolTip; }
  const std::map<unsigned, Tool>& GetTools() const { return m_tools; }

 protected:
  std::map<CSomWnd*, std::map<int, unsigned>> m_elementTips;
  std::map<unsigned, Tool> m_tools;
  SomWindow m_hToolTip = nullptr;
  SomWindow m_hToolTipOwner = nullptr;
};

class CSomWndManager : public ISomWndManager, public CSomToolTipAdpater {
 public:
  static constexpr unsigned kTickTimerId = 54321;  // IDT_SOM_TICK
  static constexpr unsigned kTickMs = 100;
  // Transparent elements up to this size are composed off-screen.
  static constexpr int kBufferWidth = 1024;
  static constexpr int kBufferHeight = 128;

  CSomWndManager() = default;
  ~CSomWndManager() = default;
  CSomWndManager(const CSomWndManager&) = delete;
  CSomWndManager& operator=(const CSomWndManager&) = delete;

  void AddElement(CSomWnd* elem) override;
  void RemoveElement(CSomWnd* elem) override;
  void SetElementCapture(CSomWnd* elem) override;
  void ReleaseElementCapture(CSomWnd* elem) override;
  SomLong SendHostMessage(unsigned msg, SomWParam wParam, SomLong lParam) override;
  SomLong SendCommand(CSomWnd* elem, unsigned code, unsigned id) override;
  int PostHostMessage(unsigned msg, SomWParam wParam, SomLong lParam) override;
  void SetElementRect(CSomWnd* elem, int x, int y, int cx, int cy) override;
  void SetElementSize(CSomWnd* elem, int cx, int cy) override;
  void SetElementPos(CSomWnd* elem, int x, int y) override;
  void InvalidateElement(CSomWnd* elem, const SomRect* subRect, int force, int part) override;
  int AddToolTip(CSomWnd* elem, int key, const SomRect* rect) override;
  void RemoveToolTips(CSomWnd* elem) override;
  void BeginBatchUpdate() override;
  void EndBatchUpdate() override;
  void PaintBackground(SomDC dc, const SomRect* rect) override;
  void PaintElements(SomDC dc, const SomRect& rect) override;

  // Returns true when the message was handled; result is then its answer.
  bool ProcessWindowMessage(SomWindow hwnd, unsigned msg, SomWParam wParam, SomLong lParam, SomLong& result);

  // The first visible, enabled element under pt (client coordinates), or null.
  CSomWnd* HitTest(SomPoint pt) const;

  SomWindow GetHostWindow() const { return m_hWndHost; }
  const std::vector<CSomWnd*>& GetElements() const { return m_elements; }
  CSomWnd* GetCaptureElement() const { return m_pCapture; }
  CSomWnd* GetHoverElement() const { return m_pHover; }
  bool IsRedrawOn() const { return m_bRedraw != 0; }
  bool IsDirectPaint() const { return m_bDirectPaint != 0; }

  // Tests give their own; windows use SomPlatform().
  void SetPlatform(ISomPlatform* platform) { m_platform = platform; }

 protected:
  ISomPlatform& Platform() const { return m_platform ? *m_platform : SomPlatform(); }
  // draw/erase/exclude as in the painting of one element.
  void PaintElement(CSomWnd* elem, SomDC target, bool draw, bool erase, bool exclude, int part);

  int m_bRedraw = 1;
  int m_bDirectPaint = 1;
  SomWindow m_hWndHost = nullptr;
  std::vector<CSomWnd*> m_elements;
  CSomWnd* m_pCapture = nullptr;
  CSomWnd* m_pHover = nullptr;

 private:
  void OnMouseMessage(unsigned msg, SomPoint pt, SomLong& result, bool& handled);
  void OnMouseMove(SomPoint pt, SomLong& result, bool& handled);
  void OnSetCursor(SomLong& result, bool& handled);
  void OnTickTimer();
  void OnPaintMessage(SomDC dc);
  void OnHostDestroy();
  void MoveElement(CSomWnd* elem, const SomRect& rc);

  ISomPlatform* m_platform = nullptr;
  // The window last destroyed; its closing messages do not adopt it again.
  SomWindow m_hDestroyedHost = nullptr;
};
