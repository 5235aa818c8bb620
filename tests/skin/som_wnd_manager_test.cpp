#include "skin/som_wnd_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_som_platform.h"
#include "skin/som_button.h"

namespace {

// An element that writes down every call it gets.
class Recorder : public CSomWnd {
 public:
  Recorder(std::string name, std::vector<std::string>* log, FakeSomPlatform* platform = nullptr)
      : m_name(std::move(name)), m_log(log), m_platform(platform) {}
  void MakeTransparent() { m_dwStyle |= StyleTransparent; }

  void OnCreate() override { Log("create"); }
  void OnDestroy() override { Log("destroy"); }
  void OnTick() override { Log("tick"); }
  void OnMove(int x, int y) override { Log("move " + std::to_string(x) + "," + std::to_string(y)); }
  void OnSize(int cx, int cy) override { Log("size " + std::to_string(cx) + "x" + std::to_string(cy)); }
  void OnPaint(SomDC dc, int clip, int part) override {
    std::string where = dc == FakeDC(FakeSomPlatform::kBufferDC) ? "buffer" : "window";
    std::string text = "paint " + where;
    if (m_platform) {
      SomPoint o = m_platform->origin[dc];
      text += " at " + std::to_string(o.x) + "," + std::to_string(o.y);
    }
    Log(text + " clip " + std::to_string(clip) + " part " + std::to_string(part));
  }
  void OnCaptureChanged() override { Log("capture changed"); }
  int OnSetCursor(SomPoint pt) override {
    Log("cursor " + Point(pt));
    return 1;
  }
  int OnLButtonDown(SomPoint pt) override {
    Log("down " + Point(pt));
    return answer;
  }
  int OnLButtonUp(SomPoint pt) override {
    Log("up " + Point(pt));
    return answer;
  }
  SomLong OnMouseMove(SomPoint pt) override {
    Log("mousemove " + Point(pt));
    return 5;
  }
  void OnMouseEnter(SomPoint pt) override { Log("enter " + Point(pt)); }
  void OnMouseLeave() override { Log("leave"); }
  void OnGetToolTipText(int key, tagNMTTDISPINFOW*) override { Log("tip " + std::to_string(key)); }

  int answer = 1;

 private:
  static std::string Point(SomPoint pt) { return std::to_string(pt.x) + "," + std::to_string(pt.y); }
  void Log(const std::string& what) { m_log->push_back(m_name + ": " + what); }
  std::string m_name;
  std::vector<std::string>* m_log;
  FakeSomPlatform* m_platform;
};

constexpr std::uint32_t kStyle = CSomWnd::StyleVisible | CSomWnd::StyleAutoSize;

class ManagerTest : public ::testing::Test {
 protected:
  TestHost host;
  std::vector<std::string> log;
  Recorder a{"a", &log, &host.platform};
  Recorder b{"b", &log, &host.platform};
};

TEST_F(ManagerTest, Create_AddsThenCallsCreateMoveSizeInOrder) {
  a.Create(&host, 10, 20, 30, 40, 7, kStyle);
  EXPECT_EQ(log, (std::vector<std::string>{"a: create", "a: move 10,20", "a: size 30x40"}));
  EXPECT_EQ(a.GetRect(), (SomRect{10, 20, 40, 60}));
  EXPECT_EQ(a.GetManager(), &host);
  ASSERT_EQ(host.GetElements().size(), 1u);
  EXPECT_EQ(host.platform.timers, std::vector<std::string>{"set 54321 100"});
}

TEST_F(ManagerTest, Overlap_FirstAddedIsHitAndPaintedOnTop) {
  a.Create(&host, 0, 0, 50, 50, 1, kStyle);
  b.Create(&host, 25, 25, 50, 50, 2, kStyle);
  log.clear();

  EXPECT_TRUE(host.Mouse(som_msg::kLButtonDown, 30, 30));
  EXPECT_EQ(log, std::vector<std::string>{"a: down 30,30"});
  log.clear();
  EXPECT_TRUE(host.Mouse(som_msg::kLButtonDown, 60, 60));
  EXPECT_EQ(log, std::vector<std::string>{"b: down 35,35"});

  // a is cut out of the clip region before b paints, so b cannot cover it.
  log.clear();
  host.Send(som_msg::kPaint);
  EXPECT_EQ(log, (std::vector<std::string>{"a: paint window at 0,0 clip -1 part 0",
                                           "b: paint window at 25,25 clip -1 part 0"}));
  EXPECT_EQ(host.platform.excluded, (std::vector<SomRect>{a.GetRect(), b.GetRect()}));
  // The background goes last, into what the elements left.
  ASSERT_EQ(host.platform.backgrounds.size(), 1u);
  EXPECT_EQ(host.platform.backgrounds[0].second, host.platform.clipBox);
}

TEST_F(ManagerTest, DisabledIsPaintedButNeverHitHoveredOrCaptured) {
  a.Create(&host, 0, 0, 50, 50, 1, kStyle);
  b.Create(&host, 0, 0, 50, 50, 2, kStyle);
  a.Enable(false);
  log.clear();
  host.Mouse(som_msg::kMouseMove, 10, 10);
  EXPECT_EQ(host.GetHoverElement(), &b);
  host.Mouse(som_msg::kLButtonDown, 10, 10);
  EXPECT_EQ(log, (std::vector<std::string>{"b: enter 10,10", "b: mousemove 10,10", "b: down 10,10"}));
  log.clear();
  host.Send(som_msg::kPaint);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "a: paint window at 0,0 clip -1 part 0");
}

TEST_F(ManagerTest, HiddenIsNeitherPaintedNorHit) {
  a.Create(&host, 0, 0, 50, 50, 1, kStyle);
  a.Show(false);
  log.clear();
  EXPECT_FALSE(host.Mouse(som_msg::kLButtonDown, 10, 10));
  host.Send(som_msg::kPaint);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(host.HitTest(SomPoint{10, 10}), nullptr);
}

TEST_F(ManagerTest, HitTest_RightAndBottomEdgesAreOutside) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  EXPECT_EQ(host.HitTest(SomPoint{10, 10}), &a);
  EXPECT_EQ(host.HitTest(SomPoint{29, 29}), &a);
  EXPECT_EQ(host.HitTest(SomPoint{30, 29}), nullptr);
  EXPECT_EQ(host.HitTest(SomPoint{29, 30}), nullptr);
}

TEST_F(ManagerTest, MouseMove_OverElementPassesOnOverNothingIsHandled) {
  a.Create(&host, 0, 0, 50, 50, 1, kStyle);
  EXPECT_FALSE(host.Mouse(som_msg::kMouseMove, 5, 5));
  EXPECT_TRUE(host.Mouse(som_msg::kMouseMove, 80, 80));
  EXPECT_EQ(log.back(), "a: leave");
  EXPECT_EQ(host.GetHoverElement(), nullptr);
}

TEST_F(ManagerTest, ButtonDown_UnhandledWhenElementDeclinesOrNothingIsHit) {
  a.Create(&host, 0, 0, 50, 50, 1, kStyle);
  a.answer = 0;
  EXPECT_FALSE(host.Mouse(som_msg::kLButtonDown, 5, 5));
  EXPECT_FALSE(host.Mouse(som_msg::kLButtonDown, 70, 70));
}

TEST_F(ManagerTest, CapturedElementGetsEveryPointRelativeToItself) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  host.Mouse(som_msg::kMouseMove, 15, 15);
  host.SetElementCapture(&a);
  EXPECT_EQ(host.platform.capture, FakeWindow(TestHost::kHwnd));
  log.clear();
  bool handled = false;
  SomLong result = host.Send(som_msg::kMouseMove, 0, TestHost::At(5, 3), &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(result, 5);
  // Leaving the element while captured clears the hover; coming back sets it.
  EXPECT_EQ(log, (std::vector<std::string>{"a: leave", "a: mousemove -5,-7"}));
  log.clear();
  host.Mouse(som_msg::kMouseMove, 12, 12);
  EXPECT_EQ(log, (std::vector<std::string>{"a: enter 2,2", "a: mousemove 2,2"}));
  log.clear();
  EXPECT_TRUE(host.Mouse(som_msg::kLButtonUp, 100, 100));
  EXPECT_EQ(log, std::vector<std::string>{"a: up 90,90"});
}

TEST_F(ManagerTest, SetCursorGoesToElementUnderTheCursor) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  host.platform.cursor = SomPoint{15, 16};
  bool handled = false;
  EXPECT_EQ(host.Send(som_msg::kSetCursor, 0, 0, &handled), 1);
  EXPECT_TRUE(handled);
  EXPECT_EQ(log.back(), "a: cursor 5,6");
  host.platform.cursor = SomPoint{100, 100};
  host.Send(som_msg::kSetCursor, 0, 0, &handled);
  EXPECT_FALSE(handled);
}

TEST_F(ManagerTest, Tick_NoticesTheMouseHasLeftTheWindow) {
  a.Create(&host, 0, 0, 50, 50, 1, kStyle);
  b.Create(&host, 60, 0, 50, 50, 2, kStyle);
  host.Mouse(som_msg::kMouseMove, 5, 5);
  ASSERT_EQ(host.GetHoverElement(), &a);
  log.clear();

  host.Tick();  // still inside: only the ticks
  EXPECT_EQ(log, (std::vector<std::string>{"a: tick", "b: tick"}));
  EXPECT_EQ(host.GetHoverElement(), &a);

  log.clear();
  host.platform.cursorOverClient = false;
  bool handled = false;
  EXPECT_EQ(host.Send(som_msg::kTimer, CSomWndManager::kTickTimerId, 0, &handled), 1);
  EXPECT_TRUE(handled);
  EXPECT_EQ(log, (std::vector<std::string>{"a: leave", "a: tick", "b: tick"}));
  EXPECT_EQ(host.GetHoverElement(), nullptr);

  host.Send(som_msg::kTimer, 99, 0, &handled);
  EXPECT_FALSE(handled);
}

TEST_F(ManagerTest, Tick_KeepsTheHoverOfACapturingElement) {
  a.Create(&host, 0, 0, 50, 50, 1, kStyle);
  host.Mouse(som_msg::kMouseMove, 5, 5);
  host.SetElementCapture(&a);
  host.platform.cursorOverClient = false;
  host.Tick();
  EXPECT_EQ(host.GetHoverElement(), &a);
}

TEST_F(ManagerTest, SetElementRect_UnchangedDoesNothing) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  log.clear();
  host.SetElementRect(&a, 10, 10, 20, 20);
  a.SetPos(10, 10);
  a.SetSize(20, 20);
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(host.platform.invalidated.empty());
  EXPECT_EQ(host.platform.updateWindowCalls, 0);
}

TEST_F(ManagerTest, SetPos_InvalidatesOldAndNewAndUpdatesAtOnce) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  log.clear();
  a.SetPos(30, 5);
  EXPECT_EQ(log, std::vector<std::string>{"a: move 30,5"});
  EXPECT_EQ(host.platform.invalidated, (std::vector<SomRect>{{10, 10, 30, 30}, {30, 5, 50, 25}}));
  EXPECT_EQ(host.platform.updateWindowCalls, 1);

  log.clear();
  a.SetSize(5, 6);
  EXPECT_EQ(log, std::vector<std::string>{"a: size 5x6"});
  EXPECT_EQ(a.GetRect(), (SomRect{30, 5, 35, 11}));
}

TEST_F(ManagerTest, BatchUpdate_InvalidatesOnlyAndUpdatesOnceAtTheEnd) {
  a.Create(&host, 0, 0, 20, 20, 1, kStyle);
  b.Create(&host, 40, 0, 20, 20, 2, kStyle);
  log.clear();
  host.BeginBatchUpdate();
  a.SetPos(1, 1);
  b.Invalidate();
  EXPECT_EQ(host.platform.updateWindowCalls, 0);
  EXPECT_EQ(host.platform.dcsTaken, 0);
  EXPECT_EQ(host.platform.invalidated.size(), 3u);
  host.EndBatchUpdate();
  EXPECT_EQ(host.platform.updateWindowCalls, 1);
  EXPECT_TRUE(host.IsDirectPaint());
}

TEST_F(ManagerTest, ShowFalse_RepaintsTheAreaWithTheBackground) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  log.clear();
  EXPECT_TRUE(a.Show(false));
  EXPECT_TRUE(log.empty());  // not drawn
  ASSERT_EQ(host.platform.backgrounds.size(), 1u);
  EXPECT_EQ(host.platform.backgrounds[0].second, a.GetRect());
  EXPECT_EQ(host.platform.clipped, std::vector<SomRect>{a.GetRect()});
  EXPECT_EQ(host.platform.dcsTaken, host.platform.dcsReleased);
  EXPECT_FALSE(a.Show(false));  // already hidden: nothing more
  EXPECT_EQ(host.platform.backgrounds.size(), 1u);
}

TEST_F(ManagerTest, Invalidate_OpaqueElementPaintsStraightOntoTheWindow) {
  a.Create(&host, 10, 20, 30, 30, 1, kStyle);
  log.clear();
  a.Invalidate();
  // Opaque and not forced: erase is off, and a visible element is drawn.
  EXPECT_EQ(log, std::vector<std::string>{"a: paint window at 10,20 clip -1 part 0"});
  EXPECT_EQ(host.platform.origin[FakeDC(FakeSomPlatform::kWindowDC)], (SomPoint{0, 0}));
  EXPECT_EQ(host.platform.buffersMade, 0);
  EXPECT_TRUE(host.platform.excluded.empty());
}

TEST_F(ManagerTest, Invalidate_TransparentElementIsComposedOffScreen) {
  a.Create(&host, 10, 20, 30, 30, 1, kStyle);
  a.MakeTransparent();
  log.clear();
  a.Invalidate(nullptr, 3);
  EXPECT_EQ(log, std::vector<std::string>{"a: paint buffer at 0,0 clip -1 part 3"});
  ASSERT_EQ(host.platform.backgrounds.size(), 1u);
  EXPECT_EQ(host.platform.backgrounds[0].first, FakeDC(FakeSomPlatform::kBufferDC));
  EXPECT_EQ(host.platform.backgrounds[0].second, a.GetRect());
  // Window coordinates of the background land at the buffer's origin.
  EXPECT_EQ(host.platform.backgroundOrigins[0], (SomPoint{-10, -20}));
  ASSERT_EQ(host.platform.blits.size(), 1u);
  EXPECT_EQ(host.platform.blits[0].second, a.GetRect());
  EXPECT_EQ(host.platform.buffersMade, host.platform.buffersDeleted);
}

TEST_F(ManagerTest, Invalidate_TransparentTooLargeOrWithoutBufferPaintsDirectly) {
  a.Create(&host, 0, 0, 1025, 20, 1, kStyle);
  a.MakeTransparent();
  b.Create(&host, 0, 30, 40, 20, 2, kStyle);
  b.MakeTransparent();
  host.platform.buffersFail = true;
  log.clear();
  a.Invalidate();
  b.Invalidate();
  EXPECT_EQ(log, (std::vector<std::string>{"a: paint window at 0,0 clip -1 part 0",
                                           "b: paint window at 0,30 clip -1 part 0"}));
  ASSERT_EQ(host.platform.backgrounds.size(), 2u);
  EXPECT_EQ(host.platform.backgrounds[1].first, FakeDC(FakeSomPlatform::kWindowDC));
  EXPECT_TRUE(host.platform.blits.empty());
}

TEST_F(ManagerTest, Invalidate_SubRectIsCutToTheElement) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  host.BeginBatchUpdate();
  SomRect sub{15, 15, 40, 40};
  a.Invalidate(&sub);
  EXPECT_EQ(host.platform.invalidated, std::vector<SomRect>{(SomRect{25, 25, 30, 30})});
  SomRect outside{30, 30, 40, 40};
  a.Invalidate(&outside);
  EXPECT_EQ(host.platform.invalidated.size(), 1u);
}

TEST_F(ManagerTest, Invalidate_NothingWhileRedrawIsOff) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  bool handled = true;
  host.Send(som_msg::kSetRedraw, 0, 0, &handled);
  EXPECT_FALSE(handled);  // the default processing must still see it
  log.clear();
  a.Invalidate();
  a.Show(false);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(host.platform.dcsTaken, 0);
  host.Send(som_msg::kSetRedraw, 1);
  a.Show(true);
  EXPECT_EQ(host.platform.dcsTaken, 1);
}

TEST_F(ManagerTest, PrintClient_PaintsIntoTheGivenContext) {
  a.Create(&host, 0, 0, 20, 20, 1, kStyle);
  b.Create(&host, 400, 400, 20, 20, 2, kStyle);  // outside the clip box
  log.clear();
  SomDC dc = FakeDC(0x300);
  bool handled = false;
  host.Send(som_msg::kPrintClient, reinterpret_cast<SomWParam>(dc), 0, &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(log, std::vector<std::string>{"a: paint window at 0,0 clip -1 part 0"});
}

TEST_F(ManagerTest, RemoveElement_EndsCaptureAndHover) {
  a.Create(&host, 0, 0, 20, 20, 1, kStyle);
  host.Mouse(som_msg::kMouseMove, 5, 5);
  host.SetElementCapture(&a);
  log.clear();
  host.RemoveElement(&a);
  EXPECT_EQ(log, (std::vector<std::string>{"a: capture changed", "a: leave"}));
  EXPECT_EQ(host.GetCaptureElement(), nullptr);
  EXPECT_EQ(host.GetHoverElement(), nullptr);
  EXPECT_TRUE(host.GetElements().empty());
  EXPECT_EQ(host.platform.capture, nullptr);
}

TEST_F(ManagerTest, SetElementCapture_TakenFromAnotherElementTellsIt) {
  a.Create(&host, 0, 0, 20, 20, 1, kStyle);
  b.Create(&host, 30, 0, 20, 20, 2, kStyle);
  host.SetElementCapture(&a);
  log.clear();
  host.SetElementCapture(&b);
  EXPECT_EQ(log, std::vector<std::string>{"a: capture changed"});
  EXPECT_EQ(host.GetCaptureElement(), &b);
  // Releasing for an element that does not hold it changes nothing.
  host.ReleaseElementCapture(&a);
  EXPECT_EQ(host.GetCaptureElement(), &b);
}

TEST_F(ManagerTest, Destroy_ResetsElementsAndManager) {
  a.Create(&host, 0, 0, 20, 20, 1, kStyle);
  b.Create(&host, 30, 0, 20, 20, 2, kStyle);
  host.Mouse(som_msg::kMouseMove, 35, 5);
  host.SetElementCapture(&a);
  host.BeginBatchUpdate();
  host.Send(som_msg::kSetRedraw, 0);
  log.clear();
  bool handled = true;
  host.Send(som_msg::kDestroy, 0, 0, &handled);
  EXPECT_FALSE(handled);
  EXPECT_EQ(log, (std::vector<std::string>{"b: leave", "a: capture changed", "a: destroy", "b: destroy"}));
  for (Recorder* e : {&a, &b}) {
    EXPECT_EQ(e->GetManager(), nullptr);
    EXPECT_TRUE(e->GetRect() == SomRect{});
    EXPECT_EQ(e->GetStyle(), 0u);
    EXPECT_EQ(e->GetID(), 0);
  }
  EXPECT_TRUE(host.GetElements().empty());
  EXPECT_EQ(host.GetHostWindow(), nullptr);
  EXPECT_TRUE(host.IsRedrawOn());
  EXPECT_TRUE(host.IsDirectPaint());
  EXPECT_EQ(host.platform.timers.back(), "kill 54321");
}

TEST_F(ManagerTest, Destroy_ClosingMessagesDoNotAdoptTheDeadWindowAgain) {
  host.Send(som_msg::kDestroy);
  host.Send(0x0082 /* WM_NCDESTROY */);
  EXPECT_EQ(host.GetHostWindow(), nullptr);
  // The window object is created again (the system may even hand out the
  // same handle): the new window is adopted and ticks again.
  SomLong result = 0;
  host.ProcessWindowMessage(FakeWindow(TestHost::kHwnd), 0x0081 /* WM_NCCREATE */, 0, 0, result);
  EXPECT_EQ(host.GetHostWindow(), FakeWindow(TestHost::kHwnd));
  EXPECT_EQ(host.platform.timers, (std::vector<std::string>{"set 54321 100", "kill 54321", "set 54321 100"}));
}

TEST_F(ManagerTest, MessagesOfOtherWindowsAreLeftAlone) {
  a.Create(&host, 0, 0, 20, 20, 1, kStyle);
  SomLong result = 0;
  EXPECT_FALSE(host.ProcessWindowMessage(FakeWindow(0x9999), som_msg::kLButtonDown, 0, TestHost::At(5, 5), result));
  EXPECT_TRUE(log.size() == 3u);  // create, move, size only
}

TEST_F(ManagerTest, ToolTips_IdsKeysAndTextRequests) {
  a.Create(&host, 10, 10, 20, 20, 1, kStyle);
  b.Create(&host, 40, 10, 20, 20, 2, kStyle);
  host.AttachToolTip(FakeWindow(0x77), FakeWindow(TestHost::kHwnd));
  SomRect part{1, 2, 5, 6};
  EXPECT_EQ(host.AddToolTip(&a, 100, nullptr), 1);
  EXPECT_EQ(host.AddToolTip(&a, 100, &part), 0);  // same key again
  EXPECT_EQ(host.AddToolTip(&b, 100, &part), 2);
  EXPECT_EQ(host.platform.tools[1], a.GetRect());
  EXPECT_EQ(host.platform.tools[2], (SomRect{41, 12, 45, 16}));
  host.RemoveToolTips(&a);
  EXPECT_EQ(host.platform.tools.count(1), 0u);
  EXPECT_EQ(host.AddToolTip(&a, 101, nullptr), 1);  // smallest free id

  log.clear();
  SomNotifyInfo request;
  request.code = -530;
  request.idFrom = 2;
  bool handled = false;
  host.Send(som_msg::kNotify, 0, reinterpret_cast<SomLong>(&request), &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(log, std::vector<std::string>{"b: tip 100"});
  request.flags = 0x1;  // TTF_IDISHWND: not one of ours
  host.Send(som_msg::kNotify, 0, reinterpret_cast<SomLong>(&request), &handled);
  EXPECT_FALSE(handled);
  request.code = -12;
  host.Send(som_msg::kNotify, 0, reinterpret_cast<SomLong>(&request), &handled);
  EXPECT_FALSE(handled);
}

TEST_F(ManagerTest, SendCommand_PacksIdAndCodeAndPassesTheElement) {
  a.Create(&host, 0, 0, 20, 20, 0x12345, kStyle);
  host.SendCommand(&a, 3, static_cast<unsigned>(a.GetID()));
  auto commands = host.platform.Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, static_cast<SomWParam>(0x00032345));
  EXPECT_EQ(commands[0].lParam, reinterpret_cast<SomLong>(&a));
}

TEST(SomWndTest, WithoutManagerPositionAndRepaintDoNothing) {
  std::vector<std::string> log;
  Recorder e{"e", &log};
  e.SetPos(5, 5);
  e.Invalidate();
  EXPECT_TRUE(e.GetRect() == SomRect{});
  EXPECT_TRUE(e.Enable(false));  // was enabled; nothing to repaint
  EXPECT_FALSE(e.IsEnabled());
  EXPECT_TRUE(log.empty());
}

}  // namespace
