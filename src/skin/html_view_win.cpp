#include "skin/html_view_win.h"

#include <exdispid.h>
#include <mshtml.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "base/com_object_win.h"
#include "skin/html_url.h"

// ---- CSomHtmlWnd -----------------------------------------------------------

CSomHtmlWnd::~CSomHtmlWnd() = default;

HWND CSomHtmlWnd::CreateBrowser(IDispatch* external, const wchar_t* url, HWND parent, const RECT& rect, DWORD style,
                                DWORD exStyle, UINT id, void* /*createParam*/, DWORD docHostFlags) {
  m_bAllowContextMenu = FALSE;
  m_dwDocHostFlags = docHostFlags;
  if (external) external->AddRef();
  m_spExternal.Reset(external);
  m_hWndReport = parent;
  HWND hwnd = CreateHostWindow(parent, rect, url, style, exStyle, id);
  if (!hwnd) {
    ::OutputDebugStringW(L"GardboxBrowser IE Create exception!!");
    return nullptr;
  }
  // Script errors of the page must never raise dialogs over the program.
  if (Browser()) Browser()->put_Silent(VARIANT_TRUE);
  return hwnd;
}

CWndClassInfo CSomHtmlWnd::GetWndClassInfo() const {
  CWndClassInfo info = CSomAxHostWnd::GetWndClassInfo();
  info.name = kClassName;
  return info;
}

void CSomHtmlWnd::Navigate(const wchar_t* url) {
  HRESULT hr = E_FAIL;
  if (Browser() && url) {
    ScopedBstr target(url);
    VARIANT empty;
    ::VariantInit(&empty);
    hr = Browser()->Navigate(target.Get(), &empty, &empty, &empty, &empty);
  }
  if (FAILED(hr)) {
    ::OutputDebugStringW(L"GardboxBrowser IE Navigate exception!!");
    // An empty box helps nobody; the parent shows its stand-by picture.
    ReportNavigationError();
  }
}

void CSomHtmlWnd::ReportNavigationError() {
  HWND parent = m_hWnd ? ::GetParent(m_hWnd) : m_hWndReport;
  if (parent && ::IsWindow(parent)) ::PostMessageW(parent, WM_WEBNAVERROR, 0, 0);
}

BOOL CSomHtmlWnd::GetClientBox(RECT* rect) { return ::GetClientRect(m_hWnd, rect); }

BOOL CSomHtmlWnd::GetBoundsInParent(RECT* rect) {
  HWND parent = m_hWnd ? ::GetParent(m_hWnd) : nullptr;
  if (!rect || !parent || !::IsWindow(parent)) return FALSE;
  if (!::GetWindowRect(m_hWnd, rect)) return FALSE;
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(rect), 2);
  return TRUE;
}

BOOL CSomHtmlWnd::SetBounds(int x, int y, int cx, int cy) {
  return ::SetWindowPos(m_hWnd, nullptr, x, y, cx, cy, SWP_NOZORDER);
}

BOOL CSomHtmlWnd::SetBoundsSize(int cx, int cy) {
  return ::SetWindowPos(m_hWnd, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE);
}

BOOL CSomHtmlWnd::SetBoundsPos(int x, int y) {
  return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

BOOL CSomHtmlWnd::DestroyElement() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

BOOL CSomHtmlWnd::ShowElement(BOOL show) { return ::ShowWindow(m_hWnd, show ? SW_SHOWNORMAL : SW_HIDE); }

// ---- OpenUrlExternally -----------------------------------------------------

void OpenUrlExternally(const wchar_t* url) {
  // Pages ask for new windows with whatever target they like; only web
  // addresses go on.
  if (!url || !IsWebAddress(url)) return;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = url;
  info.nShow = SW_SHOW;
  if (::ShellExecuteExW(&info)) return;

  // No browser registered for the address: try Internet Explorer itself.
  wchar_t programFiles[MAX_PATH] = {};
  wchar_t explorer[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE)) return;
  if (!::PathCombineW(explorer, programFiles, L"Internet Explorer\\IEXPLORE.EXE")) return;
  std::wstring argument = L"\"" + std::wstring(url) + L"\"";
  SHELLEXECUTEINFOW ie = {};
  ie.cbSize = sizeof(ie);
  ie.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
  ie.lpFile = explorer;
  ie.lpParameters = argument.c_str();
  ie.nShow = SW_SHOWDEFAULT;
  ScopedKernelHandle process(::ShellExecuteExW(&ie) ? ie.hProcess : nullptr);  // not waited for
}

// ---- CSomHtmlView ----------------------------------------------------------

// Receives DWebBrowserEvents2. It can outlive the view inside the control's
// connection list for a moment, so it only forwards while attached.
class CSomHtmlView::CEventSink : public ComObject<IDispatch> {
 public:
  explicit CEventSink(CSomHtmlView* view) : m_view(view) {}
  void Detach() { m_view = nullptr; }

  Table Interfaces() const override {
    static const Entry kTable[] = {Answer<IDispatch>(IID_IDispatch), Answer<IDispatch>(DIID_DWebBrowserEvents2)};
    return kTable;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    return m_view ? m_view->OnBrowserEvent(id, params) : S_OK;
  }

 private:
  ~CEventSink() override = default;
  CSomHtmlView* m_view;
};

CSomHtmlView::CSomHtmlView() : m_sink(new CEventSink(this)) {}

CSomHtmlView::~CSomHtmlView() {
  // Destroy here, while the sink can still be disconnected by our own
  // WM_DESTROY handling.
  if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
  m_sink->Detach();
}

IDispatch* CSomHtmlView::EventSink() const { return m_sink.Get(); }

LRESULT CSomHtmlView::OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
  const LRESULT result = CSomHtmlWnd::OnCreate(msg, wParam, lParam, handled);
  if (result == 0) {
    PutAllowContextMenu(m_bAllowContextMenu);
    if (m_dwDocHostFlags != 0) PutDocHostFlags(m_dwDocHostFlags);
    if (m_spExternal) SetExternalDispatch(m_spExternal.Get());
    ConnectSink();
  }
  return result;
}

LRESULT CSomHtmlView::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
  DisconnectSink();
  SetExternalDispatch(nullptr);
  handled = FALSE;  // the host closes the control
  return 0;
}

LRESULT CSomHtmlView::OnSetFocus(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
  const LRESULT result = ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
  FocusPage();
  return result;
}

void CSomHtmlView::ConnectSink() {
  if (!Browser() || m_sinkCookie) return;
  ComPtr<IConnectionPointContainer> container;
  if (FAILED(Browser()->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()))) return;
  ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Put()))) {
    if (FAILED(point->Advise(m_sink.Get(), &m_sinkCookie))) m_sinkCookie = 0;
  }
}

void CSomHtmlView::DisconnectSink() {
  if (!Browser() || !m_sinkCookie) return;
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(Browser()->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())) &&
      SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Put()))) {
    point->Unadvise(m_sinkCookie);
  }
  m_sinkCookie = 0;
}

void CSomHtmlView::FocusPage() {
  if (!Browser()) return;
  ComPtr<IDispatch> document;
  if (FAILED(Browser()->get_Document(document.Put())) || !document) return;
  ComPtr<IHTMLDocument2> html;
  ComPtr<IHTMLWindow2> window;
  if (SUCCEEDED(document->QueryInterface(IID_IHTMLDocument2, html.PutVoid())) &&
      SUCCEEDED(html->get_parentWindow(window.Put())) && window) {
    window->focus();
  }
}

namespace {

const wchar_t* StringArgument(const VARIANT& v) {
  if (v.vt == VT_BSTR) return v.bstrVal;
  if (v.vt == (VT_BYREF | VT_BSTR) && v.pbstrVal) return *v.pbstrVal;
  if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return StringArgument(*v.pvarVal);
  return nullptr;
}

}  // namespace

HRESULT CSomHtmlView::OnBrowserEvent(DISPID id, DISPPARAMS* params) {
  switch (id) {
    case DISPID_NEWWINDOW3: {
      // Arguments arrive last first: url, url context, flags, cancel, ppDisp.
      if (!params || params->cArgs < 5) return S_OK;
      VARIANT& cancel = params->rgvarg[3];
      if (cancel.vt == (VT_BYREF | VT_BOOL) && cancel.pboolVal) *cancel.pboolVal = VARIANT_TRUE;
      const wchar_t* url = StringArgument(params->rgvarg[0]);
      if (url && *url && m_opener) m_opener(url);
      return S_OK;
    }
    case DISPID_NAVIGATEERROR: {
      HWND parent = m_hWnd ? ::GetParent(m_hWnd) : nullptr;
      if (parent && ::IsWindow(parent)) ::PostMessageW(parent, WM_WEBNAVERROR, 0, 0);
      return S_OK;
    }
    case DISPID_COMMANDSTATECHANGE:
    case DISPID_BEFORENAVIGATE2:
    default:
      return S_OK;
  }
}
