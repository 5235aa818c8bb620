#include "skin/som_text_wnd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skin/som_wnd_manager.h"

namespace {

SomWindow const kHost = reinterpret_cast<SomWindow>(0x1234);

class TestHost;

// Just enough of a window system: capture that answers with
// WM_CAPTURECHANGED, commands recorded, painting into nowhere.
class FakePlatform : public ISomPlatform {
 public:
  TestHost* host = nullptr;
  SomWindow capture = nullptr;
  std::vector<unsigned> commands;
  int invalidations = 0;

  void SetTimer(SomWindow, unsigned, unsigned) override {}
  void KillTimer(SomWindow, unsigned) override {}
  SomWindow GetCapture() override { return capture; }
  void SetCapture(SomWindow hwnd) override { capture = hwnd; }
  void ReleaseCapture() override;
  SomLong SendHostMessage(SomWindow, unsigned msg, SomWParam wParam, SomLong) override {
    if (msg == som_msg::kCommand) commands.push_back(static_cast<unsigned>(wParam));
    return 0;
  }
  int PostHostMessage(SomWindow, unsigned, SomWParam, SomLong) override { return 1; }
  void InvalidateRect(SomWindow, const SomRect*) override { ++invalidations; }
  void UpdateWindow(SomWindow) override {}
  SomPoint GetCursorClientPos(SomWindow) override { return {}; }
  bool IsCursorOverClient(SomWindow) override { return true; }
  SomDC GetDC(SomWindow) override { return nullptr; }
  void ReleaseDC(SomWindow, SomDC) override {}
  void PaintWindow(SomWindow, const std::function<void(SomDC, const SomRect&)>&) override {}
  SomRect GetClipBox(SomDC) override { return SomRect{0, 0, 1000, 1000}; }
  void IntersectClipRect(SomDC, const SomRect&) override {}
  void ExcludeClipRect(SomDC, const SomRect&) override {}
  SomDC CreateBuffer(int, int) override { return nullptr; }
  void DeleteBuffer(SomDC) override {}
  void SetViewportOrg(SomDC, int, int, SomPoint*) override {}
  void OffsetViewportOrg(SomDC, int, int, SomPoint*) override {}
  void BitBlt(SomDC, const SomRect&, SomDC, int, int) override {}
  void FillClassBackground(SomWindow, SomDC, const SomRect&) override {}
  SomNotifyInfo ReadNotify(SomLong) override { return {}; }
  bool IsWindow(SomWindow) override { return true; }
  void AddTool(SomWindow, SomWindow, unsigned, const SomRect&) override {}
  void DelTool(SomWindow, SomWindow, unsigned) override {}
};

class TestHost : public CSomWndManager {
 public:
  SomLong Send(unsigned msg, int x = 0, int y = 0) {
    SomLong result = 0;
    ProcessWindowMessage(kHost, msg, 0, static_cast<SomLong>((y << 16) | (x & 0xFFFF)), result);
    return result;
  }
};

void FakePlatform::ReleaseCapture() {
  capture = nullptr;
  host->Send(som_msg::kCaptureChanged);
}

struct DrawnRun {
  std::wstring text;
  SomRect rect;
  SomFont font;
  SomColor colour;
  bool ellipsis;
};

// Every character 10 pixels wide; the label's own font 12 high, skin font n
// 12 + n high.
class FakeTextServices : public ISomTextServices {
 public:
  int measured = 0;
  std::vector<DrawnRun> drawn;
  std::vector<std::wstring> opened;
  int handCursors = 0;

  static SomFont Font(int index) { return reinterpret_cast<SomFont>(static_cast<std::uintptr_t>(0x100 + index)); }
  SomFont SkinFont(int index) override { return Font(index); }
  TextExtent MeasureText(SomFont font, const std::wstring& text) override {
    ++measured;
    int index = static_cast<int>(reinterpret_cast<std::uintptr_t>(font)) - 0x100;
    return {static_cast<int>(text.size()) * 10, 12 + (index == CSomTextWnd::kDefaultFontIndex ? 0 : index)};
  }
  SomRect GetClipBox(SomDC) override { return SomRect{-1000, -1000, 1000, 1000}; }
  void DrawRun(SomDC, const std::wstring& text, const SomRect& rect, SomFont font, SomColor colour,
               bool ellipsis) override {
    drawn.push_back({text, rect, font, colour, ellipsis});
  }
  void SetHandCursor() override { ++handCursors; }
  void ShellOpen(const std::wstring& target) override { opened.push_back(target); }
};

class SomTextWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSomTextServices(&services);
    platform.host = &host;
    host.SetPlatform(&platform);
    host.Send(som_msg::kTimer + 1000);  // any first message records the host window
  }
  void TearDown() override {
    host.Send(som_msg::kDestroy);
    SetSomTextServices(nullptr);
  }
  void CreateLabel(const wchar_t* markup, int x = 10, int y = 20) {
    label.Create(&host, 7, CSomWnd::StyleVisible | CSomWnd::StyleAutoSize);
    label.SetText(markup);
    label.SetPos(x, y);
  }

  FakeTextServices services;
  FakePlatform platform;
  TestHost host;
  CSomTextWnd label;
};

TEST_F(SomTextWndTest, AutoSizeTakesTheTextExtentAndCreateMakesItTransparent) {
  CreateLabel(L"ab{&#font=4}cd");
  EXPECT_TRUE(label.IsTransparent());
  EXPECT_EQ(label.GetRect(), (SomRect{10, 20, 50, 35}));
  ASSERT_EQ(label.GetSegments().size(), 2u);
  EXPECT_EQ(label.GetSegments()[0].rect.top, 3);  // bottoms aligned on the taller run
  EXPECT_EQ(label.GetSegments()[1].rect.top, 0);

  label.SetMaxWidth(25);
  label.SetFont(FakeTextServices::Font(0));
  EXPECT_EQ(label.GetWidth(), 25);
}

TEST_F(SomTextWndTest, FeedbackLinkColoursAndHover) {
  CreateLabel(L"{&#a=button:102}{&#acolor=16678964}点击反馈");
  label.SetLinkColors(0xFE8034, 0x2B85FF);
  EXPECT_EQ(label.GetSegmentColour(0), 0xFE8034u);
  host.Send(som_msg::kMouseMove, 15, 25);
  EXPECT_EQ(label.GetHoverSegment(), 0);
  EXPECT_EQ(label.GetSegmentColour(0), 0x2B85FFu);
  EXPECT_EQ(host.Send(som_msg::kSetCursor), 0);  // the cursor sits at 0,0, off the label
}

TEST_F(SomTextWndTest, SameMarkupTwiceDoesNothing) {
  CreateLabel(L"{&#color=0xffffff}提示");
  int measured = services.measured;
  int invalidations = platform.invalidations;
  size_t drawn = services.drawn.size();
  label.SetText(L"{&#color=0xffffff}提示");
  EXPECT_EQ(services.measured, measured);
  EXPECT_EQ(platform.invalidations, invalidations);
  EXPECT_EQ(services.drawn.size(), drawn);
  label.SetText(nullptr);
  EXPECT_TRUE(label.GetSegments().empty());
  EXPECT_EQ(label.GetWidth(), 0);
}

TEST_F(SomTextWndTest, PlainTextKeepsTagLikeCharactersAndSwitchesBackToMarkup) {
  CreateLabel(L"{&#color=0x888888}hint");
  const std::wstring folder = L"D:\\{&#a=button:15}x\\";
  label.SetPlainText(folder);
  ASSERT_EQ(label.GetSegments().size(), 1u);
  EXPECT_EQ(label.GetSegments()[0].text, folder);
  EXPECT_FALSE(label.GetSegments()[0].IsLink());
  EXPECT_EQ(label.GetSegments()[0].colour, -1);
  // The same characters as markup are read as tags again.
  label.SetText(folder);
  ASSERT_EQ(label.GetSegments().size(), 2u);
  EXPECT_TRUE(label.GetSegments()[1].IsLink());
  label.SetPlainText(L"");
  EXPECT_TRUE(label.GetSegments().empty());
}

TEST_F(SomTextWndTest, WidthLimitEndsTheCrossingRunInAnEllipsisAndDropsLaterOnes) {
  label.Create(&host, 7, CSomWnd::StyleVisible | CSomWnd::StyleAutoSize);
  label.SetMaxWidth(100);
  label.SetText(L"0123456{&#color=255}abcdef{&#color=1}xy");  // 70 + 60 + 20 = 150
  EXPECT_EQ(label.GetWidth(), 100);
  services.drawn.clear();
  label.OnPaint(nullptr, -1, 0);
  ASSERT_EQ(services.drawn.size(), 2u);
  EXPECT_FALSE(services.drawn[0].ellipsis);
  EXPECT_EQ(services.drawn[0].colour, 0u);
  EXPECT_TRUE(services.drawn[1].ellipsis);
  EXPECT_EQ(services.drawn[1].rect.left, 70);
  EXPECT_EQ(services.drawn[1].rect.right, 100);
  EXPECT_EQ(services.drawn[1].colour, 255u);

  // A part repaint draws that run alone, against the clip argument.
  services.drawn.clear();
  label.OnPaint(nullptr, 200, 3);
  ASSERT_EQ(services.drawn.size(), 1u);
  EXPECT_EQ(services.drawn[0].text, L"xy");
  EXPECT_FALSE(services.drawn[0].ellipsis);
}

TEST_F(SomTextWndTest, ReleasingOverAnotherLinkCarriesOutThatLink) {
  CreateLabel(L"{&#a=button:5}AA{&#/a}--{&#a=button:0x10}BB");  // A 10..30, plain 30..50, B 50..70
  host.Send(som_msg::kMouseMove, 12, 25);
  host.Send(som_msg::kLButtonDown, 12, 25);
  EXPECT_EQ(label.GetPressedSegment(), 0);
  EXPECT_EQ(platform.capture, kHost);
  host.Send(som_msg::kMouseMove, 55, 25);
  EXPECT_EQ(label.GetHoverSegment(), 2);
  host.Send(som_msg::kLButtonUp, 55, 25);
  EXPECT_EQ(platform.commands, std::vector<unsigned>{16});
  EXPECT_EQ(label.GetPressedSegment(), -1);
}

TEST_F(SomTextWndTest, ReleasingOutsideOrOverPlainTextDoesNothing) {
  CreateLabel(L"{&#a=button:5}AA{&#/a}--");
  host.Send(som_msg::kMouseMove, 12, 25);
  host.Send(som_msg::kLButtonDown, 12, 25);
  host.Send(som_msg::kMouseMove, 300, 300);
  host.Send(som_msg::kLButtonUp, 300, 300);
  EXPECT_TRUE(platform.commands.empty());

  host.Send(som_msg::kMouseMove, 12, 25);
  host.Send(som_msg::kLButtonDown, 12, 25);
  host.Send(som_msg::kMouseMove, 35, 25);  // onto the plain text
  EXPECT_EQ(label.GetHoverSegment(), -1);
  host.Send(som_msg::kLButtonUp, 35, 25);
  EXPECT_TRUE(platform.commands.empty());

  // A press on plain text is not handled, so the window still sees it.
  EXPECT_EQ(label.OnLButtonDown(SomPoint{25, 5}), 0);
}

TEST_F(SomTextWndTest, OtherActionsGoToTheShell) {
  CreateLabel(L"{&#a=http://example.com/help}帮助");
  host.Send(som_msg::kMouseMove, 12, 25);
  host.Send(som_msg::kLButtonDown, 12, 25);
  host.Send(som_msg::kLButtonUp, 12, 25);
  // A bare host name gets "http://", as the promotion link does.
  for (const wchar_t* bare : {L"www.example.com/x", L"setup.exe"}) {
    label.SetText((L"{&#a=" + std::wstring(bare) + L"}AA").c_str());
    host.Send(som_msg::kMouseMove, 12, 25);
    host.Send(som_msg::kLButtonDown, 12, 25);
    host.Send(som_msg::kLButtonUp, 12, 25);
    host.Send(som_msg::kMouseMove, 300, 300);
  }
  EXPECT_EQ(services.opened,
            (std::vector<std::wstring>{L"http://example.com/help", L"http://www.example.com/x", L"http://setup.exe"}));
  EXPECT_TRUE(platform.commands.empty());
  EXPECT_EQ(label.OnSetCursor(SomPoint{1, 1}), 1);
  EXPECT_EQ(services.handCursors, 1);
}

TEST_F(SomTextWndTest, LinksThatAreNeitherButtonsNorWebAddressesOpenNothing) {
  // Texts from the server may carry their own link tags.
  const wchar_t* const planted[] = {L"C:\\Windows\\system32\\calc.exe", L"\\\\host\\share\\x.exe", L"file:///C:/x.exe",
                                    L"\"http://a/\" x", L"cmd:/c"};
  CreateLabel(L"");
  for (const wchar_t* target : planted) {
    label.SetText((L"{&#a=" + std::wstring(target) + L"}AA").c_str());
    host.Send(som_msg::kMouseMove, 12, 25);
    host.Send(som_msg::kLButtonDown, 12, 25);
    host.Send(som_msg::kLButtonUp, 12, 25);
    EXPECT_TRUE(label.GetSegments()[0].IsLink());
    host.Send(som_msg::kMouseMove, 300, 300);
  }
  EXPECT_TRUE(services.opened.empty());
  EXPECT_TRUE(platform.commands.empty());
}

TEST_F(SomTextWndTest, NewTextWhilePressedLetsGoWithoutFiring) {
  CreateLabel(L"{&#a=button:5}AA");
  host.Send(som_msg::kMouseMove, 12, 25);
  host.Send(som_msg::kLButtonDown, 12, 25);
  label.SetText(L"{&#a=button:6}CC");
  EXPECT_EQ(platform.capture, nullptr);
  EXPECT_EQ(label.GetPressedSegment(), -1);
  EXPECT_EQ(label.GetHoverSegment(), -1);
  host.Send(som_msg::kLButtonUp, 12, 25);
  EXPECT_TRUE(platform.commands.empty());
}

}  // namespace
