#pragma once

// A painted element inside a skinned window, and the interface of the
// manager that owns a window's elements.
#include <cstdint>

#include "skin/som_types.h"

class CSomWnd;

class ISomWndManager {
 public:
  virtual void AddElement(CSomWnd* elem) = 0;
  virtual void RemoveElement(CSomWnd* elem) = 0;
  virtual void SetElementCapture(CSomWnd* elem) = 0;
  virtual void ReleaseElementCapture(CSomWnd* elem) = 0;
  virtual SomLong SendHostMessage(unsigned msg, SomWParam wParam, SomLong lParam) = 0;
  virtual SomLong SendCommand(CSomWnd* elem, unsigned code, unsigned id) = 0;
  virtual int PostHostMessage(unsigned msg, SomWParam wParam, SomLong lParam) = 0;
  virtual void SetElementRect(CSomWnd* elem, int x, int y, int cx, int cy) = 0;
  virtual void SetElementSize(CSomWnd* elem, int cx, int cy) = 0;
  virtual void SetElementPos(CSomWnd* elem, int x, int y) = 0;
  // subRect is relative to the element; null means all of it.
  virtual void InvalidateElement(CSomWnd* elem, const SomRect* subRect, int force, int part) = 0;
  // Returns the new tool id, or 0 when the element already has this key.
  virtual int AddToolTip(CSomWnd* elem, int key, const SomRect* rect) = 0;
  virtual void RemoveToolTips(CSomWnd* elem) = 0;
  virtual void BeginBatchUpdate() = 0;
  virtual void EndBatchUpdate() = 0;
  virtual void PaintBackground(SomDC dc, const SomRect* rect) = 0;
  virtual void PaintElements(SomDC dc, const SomRect& rect) = 0;

 protected:
  ~ISomWndManager() = default;
};

class CSomWnd {
 public:
  static constexpr std::uint32_t StyleVisible = 0x1;
  static constexpr std::uint32_t StyleAutoSize = 0x2;
  static constexpr std::uint32_t StyleDisabled = 0x4;
  static constexpr std::uint32_t StyleTransparent = 0x8;

  CSomWnd(const CSomWnd&) = delete;
  CSomWnd& operator=(const CSomWnd&) = delete;

  virtual ~CSomWnd() = default;
  // Only for elements made with new; window members never call it.
  virtual void Release();
  virtual void OnCreate() {}
  virtual void OnDestroy() {}
  virtual void OnTick() {}
  virtual void OnMove(int /*x*/, int /*y*/) {}
  virtual void OnSize(int /*cx*/, int /*cy*/) {}
  // clipLimit -1 means none; part 0 is the whole element, n is part n-1.
  virtual void OnPaint(SomDC /*dc*/, int /*clipLimit*/, int /*part*/) {}
  virtual void OnCaptureChanged() {}
  // Points are relative to the element's top-left.
  virtual int OnSetCursor(SomPoint /*pt*/) { return 0; }
  virtual int OnLButtonDown(SomPoint /*pt*/) { return 0; }
  virtual int OnLButtonUp(SomPoint /*pt*/) { return 0; }
  virtual int OnLButtonDblClk(SomPoint /*pt*/) { return 0; }
  virtual SomLong OnMouseMove(SomPoint /*pt*/) { return 0; }
  virtual void OnMouseEnter(SomPoint /*pt*/) {}
  virtual void OnMouseLeave() {}
  virtual void OnGetToolTipText(int /*key*/, tagNMTTDISPINFOW* /*info*/) {}

  void Create(ISomWndManager* manager, int x, int y, int cx, int cy, int id, std::uint32_t style);
  void Create(ISomWndManager* manager, int x, int y, int id, std::uint32_t style) {
    Create(manager, x, y, 0, 0, id, style);
  }
  void Create(ISomWndManager* manager, int id, std::uint32_t style) { Create(manager, 0, 0, 0, 0, id, style); }
  void Destroy();

  bool IsVisible() const { return (m_dwStyle & StyleVisible) != 0; }
  bool IsEnabled() const { return (m_dwStyle & StyleDisabled) == 0; }
  bool IsTransparent() const { return (m_dwStyle & StyleTransparent) != 0; }
  // Both return the previous state.
  bool Enable(bool on);
  bool Show(bool on);
  void SetPos(int x, int y);
  void SetSize(int cx, int cy);
  void Invalidate(const SomRect* subRect = nullptr, int part = 0);

  std::uint32_t GetStyle() const { return m_dwStyle; }
  int GetID() const { return m_nID; }
  const SomRect& GetRect() const { return m_rc; }
  int GetWidth() const { return m_rc.Width(); }
  int GetHeight() const { return m_rc.Height(); }
  ISomWndManager* GetManager() const { return m_pManager; }

 protected:
  CSomWnd() = default;

  std::uint32_t m_dwStyle = 0;
  std::int32_t m_nID = 0;
  SomRect m_rc;
  ISomWndManager* m_pManager = nullptr;

  friend class CSomWndManager;
};
