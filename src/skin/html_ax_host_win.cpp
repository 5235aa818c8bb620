#include "skin/html_ax_host_win.h"

#include <mshtmdid.h>
#include <mshtmhst.h>
#include <olectl.h>

// The control's view of its container. One object answers every site
// interface the browser asks for; it lives from the control's creation to its
// closing and only then lets go of the host.
class CSomAxSite : public IOleClientSite,
                   public IOleInPlaceSite,
                   public IOleInPlaceFrame,
                   public IDocHostUIHandler,
                   public IDispatch {
 public:
  explicit CSomAxSite(CSomAxHostWnd* host) : m_host(host) {}

  void Detach() { m_host = nullptr; }

  BOOL m_allowContextMenu = FALSE;
  DWORD m_docHostFlags = 0;
  ComPtr<IDispatch> m_external;

  void SetExternal(IDispatch* external) {
    if (external) external->AddRef();
    m_external.Reset(external);
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IDocHostUIHandler)
      *out = static_cast<IDocHostUIHandler*>(this);
    else if (riid == IID_IDispatch)
      *out = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the in-place site and frame)
  STDMETHODIMP GetWindow(HWND* out) override {
    if (!out) return E_POINTER;
    *out = m_host ? m_host->m_hWnd : nullptr;
    return *out ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return m_host ? S_OK : S_FALSE; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT posRect, LPRECT clipRect,
                                LPOLEINPLACEFRAMEINFO frameInfo) override {
    if (!frame || !doc || !posRect || !clipRect || !frameInfo) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    HWND hwnd = m_host ? m_host->m_hWnd : nullptr;
    if (!hwnd || !::GetClientRect(hwnd, posRect)) ::SetRectEmpty(posRect);
    *clipRect = *posRect;
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = hwnd;
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT rect) override {
    ComPtr<IOleInPlaceObject> inPlace;
    if (rect && m_host && m_host->m_oleObject &&
        SUCCEEDED(m_host->m_oleObject->QueryInterface(IID_IOleInPlaceObject, inPlace.PutVoid()))) {
      inPlace->SetObjectRects(rect, rect);
    }
    return S_OK;
  }

  // IOleInPlaceUIWindow / IOleInPlaceFrame: the host has no menus or toolbars.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override {
    // S_OK means "handled", which suppresses the control's own menu.
    return m_allowContextMenu ? S_FALSE : S_OK;
  }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
    // Without flags of our own the control keeps its defaults.
    if (!info || m_docHostFlags == 0) return E_NOTIMPL;
    info->dwFlags = m_docHostFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
  }
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_OK;
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    if (key) *key = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = m_external.Get();
    if (!m_external) return S_FALSE;
    m_external->AddRef();
    return S_OK;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }

  // IDispatch: the ambient properties.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    if (id == DISPID_AMBIENT_USERMODE) {
      ::VariantInit(result);
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  virtual ~CSomAxSite() = default;
  ULONG m_refs = 1;
  CSomAxHostWnd* m_host;
};

CSomAxHostWnd::CSomAxHostWnd() = default;

CSomAxHostWnd::~CSomAxHostWnd() {
  // A window that outlives its object would call into freed memory.
  if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
  CloseControl();
}

bool CSomAxHostWnd::RegisterHostClass(const wchar_t* className) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  if (::GetClassInfoExW(instance, className, &wc)) return true;
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &CSomAxHostWnd::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className;
  return ::RegisterClassExW(&wc) != 0;
}

HWND CSomAxHostWnd::CreateHostWindow(const wchar_t* className, HWND parent, const RECT& rect, const wchar_t* url,
                                     DWORD style, DWORD exStyle, UINT id) {
  if (m_hWnd) return nullptr;
  if (style == 0) style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  return ::CreateWindowExW(exStyle, className, url ? url : L"", style, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                           ::GetModuleHandleW(nullptr), this);
}

void CSomAxHostWnd::PutAllowContextMenu(BOOL allow) {
  if (m_site) m_site->m_allowContextMenu = allow;
}

void CSomAxHostWnd::PutDocHostFlags(DWORD flags) {
  if (m_site) m_site->m_docHostFlags = flags;
}

void CSomAxHostWnd::SetExternalDispatch(IDispatch* external) {
  if (m_site) m_site->SetExternal(external);
}

bool CSomAxHostWnd::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT CALLBACK CSomAxHostWnd::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CSomAxHostWnd* self = nullptr;
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    self = static_cast<CSomAxHostWnd*>(cs->lpCreateParams);
    self->m_hWnd = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<CSomAxHostWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  if (!self->HandleMessage(msg, wParam, lParam, result)) result = self->DefaultHostMessage(msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->m_hWnd = nullptr;
  }
  return result;
}

LRESULT CSomAxHostWnd::DefaultHostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      // Without its control the host would be an empty box: refuse creation
      // so the caller can show something else.
      return CreateControl(cs->lpszName) ? 0 : -1;
    }
    case WM_SIZE:
      if (m_oleObject) {
        ComPtr<IOleInPlaceObject> inPlace;
        if (SUCCEEDED(m_oleObject->QueryInterface(IID_IOleInPlaceObject, inPlace.PutVoid()))) {
          RECT rc = {0, 0, LOWORD(lParam), HIWORD(lParam)};
          inPlace->SetObjectRects(&rc, &rc);
        }
      }
      return 0;
    case WM_ERASEBKGND:
      if (m_browser) return 1;  // the control paints all of it
      break;
    case WM_DESTROY:
      CloseControl();
      break;
    default:
      break;
  }
  return ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

bool CSomAxHostWnd::CreateControl(const wchar_t* url) {
  m_site.Reset(new CSomAxSite(this));
  IOleClientSite* site = static_cast<IOleClientSite*>(m_site.Get());
  HRESULT hr =
      ::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, m_oleObject.PutVoid());
  if (SUCCEEDED(hr)) hr = m_oleObject->SetClientSite(site);
  if (SUCCEEDED(hr)) {
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    hr = m_oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, m_hWnd, &rc);
  }
  if (SUCCEEDED(hr)) hr = m_oleObject->QueryInterface(IID_IWebBrowser2, m_browser.PutVoid());
  if (FAILED(hr) || !m_browser) {
    CloseControl();
    return false;
  }
  if (url && *url) {
    ScopedBstr target(url);
    VARIANT empty;
    ::VariantInit(&empty);
    m_browser->Navigate(target.Get(), &empty, &empty, &empty, &empty);
  }
  return true;
}

void CSomAxHostWnd::CloseControl() {
  m_browser.Reset();
  if (m_oleObject) {
    m_oleObject->Close(OLECLOSE_NOSAVE);
    m_oleObject->SetClientSite(nullptr);
    m_oleObject.Reset();
  }
  if (m_site) {
    m_site->SetExternal(nullptr);
    m_site->Detach();
    m_site.Reset();
  }
}
