#include "skin/html_ax_host_win.h"

#include <mshtmdid.h>
#include <mshtmhst.h>
#include <olectl.h>

#include "base/com_object_win.h"

// The control's view of its container. One object answers every site
// interface the browser asks for; it lives from the control's creation to its
// closing and only then lets go of the host.
class CSomAxSite : public ComObject<IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame, IDocHostUIHandler, IDispatch> {
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

  Table Interfaces() const override {
    static const Entry kTable[] = {
        Answer<IOleClientSite>(IID_IOleClientSite),
        Answer<IOleInPlaceSite>(IID_IOleWindow),
        Answer<IOleInPlaceSite>(IID_IOleInPlaceSite),
        Answer<IOleInPlaceFrame>(IID_IOleInPlaceUIWindow),
        Answer<IOleInPlaceFrame>(IID_IOleInPlaceFrame),
        Answer<IDocHostUIHandler>(IID_IDocHostUIHandler),
        Answer<IDispatch>(IID_IDispatch),
    };
    return kTable;
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
  ~CSomAxSite() override = default;
  CSomAxHostWnd* m_host;
};

CSomAxHostWnd::CSomAxHostWnd() = default;

CSomAxHostWnd::~CSomAxHostWnd() {
  // Destroyed here, while this part of the object still answers, so the
  // control closes through WM_DESTROY as it does for any other end.
  if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
  CloseControl();
}

CWndClassInfo CSomAxHostWnd::GetWndClassInfo() const {
  CWndClassInfo info;
  info.name = L"SomAxHost";
  info.background = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  return info;
}

HWND CSomAxHostWnd::CreateHostWindow(HWND parent, const RECT& rect, const wchar_t* url, DWORD style, DWORD exStyle,
                                     UINT id) {
  if (style == 0) style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  return Create(parent, rect, url, style, exStyle, id);
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

LRESULT CSomAxHostWnd::OnCreate(UINT, WPARAM, LPARAM lParam, BOOL&) {
  auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
  // Without its control the host would be an empty box: refuse creation so
  // the caller can show something else.
  return CreateControl(cs->lpszName) ? 0 : -1;
}

LRESULT CSomAxHostWnd::OnSize(UINT, WPARAM, LPARAM lParam, BOOL&) {
  ComPtr<IOleInPlaceObject> inPlace;
  if (m_oleObject && SUCCEEDED(m_oleObject->QueryInterface(IID_IOleInPlaceObject, inPlace.PutVoid()))) {
    RECT rc = {0, 0, LOWORD(lParam), HIWORD(lParam)};
    inPlace->SetObjectRects(&rc, &rc);
  }
  return 0;
}

LRESULT CSomAxHostWnd::OnEraseBackground(UINT, WPARAM, LPARAM, BOOL& handled) {
  handled = m_browser ? TRUE : FALSE;  // the control paints all of it
  return 1;
}

LRESULT CSomAxHostWnd::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
  CloseControl();
  handled = FALSE;
  return 0;
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
