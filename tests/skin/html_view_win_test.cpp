#include "skin/html_view_win.h"

#include <exdispid.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_window_win.h"

namespace {

std::vector<std::wstring>& Opened() {
  static std::vector<std::wstring> opened;
  return opened;
}
void RecordOpen(const wchar_t* url) { Opened().push_back(url); }

class HtmlView : public ::testing::Test {
 protected:
  void SetUp() override {
    ::OleInitialize(nullptr);
    Opened().clear();
  }
  void TearDown() override { ::OleUninitialize(); }
};

// The arguments of NewWindow3 in the order IDispatch::Invoke delivers them.
struct NewWindow3Args {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  IDispatch* newDispatch = nullptr;
  BSTR url;
  BSTR context;
  VARIANT args[5];
  DISPPARAMS params = {};

  explicit NewWindow3Args(const wchar_t* target) {
    url = ::SysAllocString(target);
    context = ::SysAllocString(L"http://page.example/");
    for (VARIANT& v : args) ::VariantInit(&v);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = url;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = context;
    args[2].vt = VT_I4;
    args[2].lVal = 0;
    args[3].vt = VT_BYREF | VT_BOOL;
    args[3].pboolVal = &cancel;
    args[4].vt = VT_BYREF | VT_DISPATCH;
    args[4].ppdispVal = &newDispatch;
    params.rgvarg = args;
    params.cArgs = 5;
  }
  ~NewWindow3Args() {
    ::SysFreeString(url);
    ::SysFreeString(context);
  }
};

}  // namespace

TEST_F(HtmlView, NewWindowIsCancelledAndItsAddressGoesToTheUsersBrowser) {
  CSomHtmlView view;
  view.SetExternalOpener(RecordOpen);
  NewWindow3Args args(L"http://promo.example/card.html");
  EXPECT_EQ(S_OK, view.EventSink()->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, &args.params, nullptr,
                                           nullptr, nullptr));
  EXPECT_EQ(VARIANT_TRUE, args.cancel);
  ASSERT_EQ(1u, Opened().size());
  EXPECT_EQ(L"http://promo.example/card.html", Opened()[0]);
}

TEST_F(HtmlView, MalformedNewWindowEventIsIgnored) {
  CSomHtmlView view;
  view.SetExternalOpener(RecordOpen);
  NewWindow3Args args(L"http://promo.example/");
  args.params.cArgs = 2;  // too few arguments: nothing may be read or written
  view.EventSink()->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, &args.params, nullptr, nullptr, nullptr);
  EXPECT_EQ(VARIANT_FALSE, args.cancel);
  EXPECT_TRUE(Opened().empty());
  view.EventSink()->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(Opened().empty());
}

TEST_F(HtmlView, EventsOfAViewWithoutWindowPostNothing) {
  TestWindow parent(700, 400);
  CSomHtmlView view;
  DISPPARAMS none = {};
  view.EventSink()->Invoke(DISPID_NAVIGATEERROR, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
  view.EventSink()->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
  TestWindow::Pump(100);
  EXPECT_EQ(0, parent.Count(WM_WEBNAVERROR));
}

TEST_F(HtmlView, UnreachablePageEndsInOneNavigationErrorAtTheParent) {
  // Wherever the control is missing or cannot show pages (as under Wine
  // without a browser engine), the parent must still learn of the failure so
  // it can show its stand-by picture, and nothing may raise a dialog.
  TestWindow parent(700, 400);
  CSomHtmlView view;
  RECT rect = {20, 56, 660, 301};
  HWND hwnd = view.CreateBrowser(nullptr, L"about:blank", parent.Get(), rect, 0, 0, 0, nullptr, 0x24009F);
  if (hwnd) {
    EXPECT_EQ(parent.Get(), ::GetParent(hwnd));
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    EXPECT_STREQ(L"SomHtmlView", name);
  }
  view.Navigate(L"http://127.0.0.1:1/unreachable.html");
  EXPECT_TRUE(TestWindow::PumpUntil([&] { return parent.Count(WM_WEBNAVERROR) > 0; }, 15000));
  TestWindow::Pump(300);
  EXPECT_EQ(1, parent.Count(WM_WEBNAVERROR));
}

TEST_F(HtmlView, BoundsFollowTheParentsClientArea) {
  TestWindow parent(700, 400);
  CSomHtmlView view;
  RECT rect = {20, 56, 660, 301};
  if (!view.CreateBrowser(nullptr, L"", parent.Get(), rect, 0, 0, 0, nullptr, 0))
    GTEST_SKIP() << "no web browser control here";
  RECT box = {};
  ASSERT_TRUE(view.GetBoundsInParent(&box));
  EXPECT_EQ(20, box.left);
  EXPECT_EQ(56, box.top);
  EXPECT_EQ(660, box.right);
  EXPECT_EQ(301, box.bottom);
  EXPECT_TRUE(view.SetBoundsPos(30, 60));
  EXPECT_TRUE(view.SetBoundsSize(100, 50));
  ASSERT_TRUE(view.GetBoundsInParent(&box));
  EXPECT_EQ(30, box.left);
  EXPECT_EQ(110, box.bottom);
  RECT client = {};
  ASSERT_TRUE(view.GetClientBox(&client));
  EXPECT_EQ(100, client.right);
  HWND hwnd = view.m_hWnd;
  EXPECT_TRUE(view.DestroyElement());
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST_F(HtmlView, ViewDestroyedWithItsWindowLeavesNoWindowBehind) {
  TestWindow parent(700, 400);
  HWND hwnd = nullptr;
  {
    CSomHtmlView view;
    RECT rect = {0, 0, 100, 100};
    hwnd = view.CreateBrowser(nullptr, L"", parent.Get(), rect, 0, 0, 0, nullptr, 0);
  }
  if (hwnd) {
    EXPECT_FALSE(::IsWindow(hwnd));
  }
  TestWindow::Pump(100);
}

TEST_F(HtmlView, WindowOfTheViewClassMadeWithoutAViewIsAPlainWindow) {
  TestWindow parent(700, 400);
  CSomHtmlView view;
  RECT rect = {0, 0, 100, 100};
  view.CreateBrowser(nullptr, L"", parent.Get(), rect, 0, 0, 0, nullptr, 0);  // registers the class
  HWND stray = ::CreateWindowExW(0, CSomHtmlWnd::kClassName, L"", WS_CHILD, 0, 0, 10, 10, parent.Get(), nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(stray, nullptr);
  EXPECT_TRUE(::DestroyWindow(stray));
}
