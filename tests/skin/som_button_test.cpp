#include "skin/som_button.h"

#include <gtest/gtest.h>

#include "fake_som_platform.h"

namespace {

constexpr std::uint32_t kStyle = CSomWnd::StyleVisible | CSomWnd::StyleAutoSize;
// Without strips to measure here, auto-sized boxes would shrink to nothing.
constexpr std::uint32_t kFixedStyle = CSomWnd::StyleVisible;

class ButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    button.Create(&host, 10, 10, 78, 30, 1003, kStyle);
    box.Create(&host, 10, 50, 14, 14, 1010, kFixedStyle);
  }
  size_t Commands() const { return host.platform.Commands().size(); }
  // One full click at a point inside the element.
  void Click(int x, int y) {
    host.Mouse(som_msg::kMouseMove, x, y);
    host.Mouse(som_msg::kLButtonDown, x, y);
    host.Mouse(som_msg::kLButtonUp, x, y);
  }

  TestHost host;
  CSomButton4 button;
  CSomCheckBox box{nullptr, false};
};

TEST_F(ButtonTest, Click_SendsOneCommandWithTheId) {
  Click(20, 20);
  auto commands = host.platform.Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, static_cast<SomWParam>(1003));  // code 0 in the high word
  EXPECT_EQ(commands[0].lParam, reinterpret_cast<SomLong>(&button));
  EXPECT_FALSE(button.IsPressed());
  EXPECT_EQ(host.GetCaptureElement(), nullptr);
}

TEST_F(ButtonTest, PressDragOffRelease_SendsNothing) {
  host.Mouse(som_msg::kMouseMove, 20, 20);
  host.Mouse(som_msg::kLButtonDown, 20, 20);
  EXPECT_TRUE(button.IsPressed());
  host.Mouse(som_msg::kMouseMove, 200, 200);
  EXPECT_FALSE(button.IsHover());  // shows the normal look while away
  EXPECT_TRUE(button.IsPressed());
  host.Mouse(som_msg::kLButtonUp, 200, 200);
  EXPECT_EQ(Commands(), 0u);
  EXPECT_FALSE(button.IsPressed());
}

TEST_F(ButtonTest, PressDragOffAndBackRelease_SendsOneCommand) {
  host.Mouse(som_msg::kMouseMove, 20, 20);
  host.Mouse(som_msg::kLButtonDown, 20, 20);
  host.Mouse(som_msg::kMouseMove, 200, 200);
  host.Mouse(som_msg::kMouseMove, 30, 25);
  EXPECT_TRUE(button.IsHover());
  EXPECT_TRUE(button.IsPressed());
  host.Mouse(som_msg::kLButtonUp, 30, 25);
  EXPECT_EQ(Commands(), 1u);
}

TEST_F(ButtonTest, CaptureTakenAwayWhilePressedOverTheButtonStillFires) {
  // Windows ends the capture when, for example, the window starts a move.
  host.Mouse(som_msg::kMouseMove, 20, 20);
  host.Mouse(som_msg::kLButtonDown, 20, 20);
  host.platform.ReleaseCapture();
  EXPECT_EQ(Commands(), 1u);
  EXPECT_FALSE(button.IsPressed());
}

TEST_F(ButtonTest, DoubleClickIsASecondPress) {
  Click(20, 20);
  host.Mouse(som_msg::kLButtonDblClk, 20, 20);
  host.Mouse(som_msg::kLButtonUp, 20, 20);
  EXPECT_EQ(Commands(), 2u);
}

TEST_F(ButtonTest, DisabledButtonIgnoresTheMouse) {
  button.Enable(false);
  Click(20, 20);
  EXPECT_EQ(Commands(), 0u);
  EXPECT_FALSE(button.IsHover());
  EXPECT_FALSE(button.IsPressed());
}

TEST_F(ButtonTest, CheckBox_ClickedTwiceEndsUncheckedAfterTwoCommands) {
  Click(12, 52);
  EXPECT_TRUE(box.GetCheck());
  Click(12, 52);
  EXPECT_FALSE(box.GetCheck());
  EXPECT_EQ(Commands(), 2u);
}

TEST_F(ButtonTest, CheckBox_ReleasedOutsideKeepsItsState) {
  host.Mouse(som_msg::kMouseMove, 12, 52);
  host.Mouse(som_msg::kLButtonDown, 12, 52);
  host.Mouse(som_msg::kMouseMove, 300, 52);
  host.Mouse(som_msg::kLButtonUp, 300, 52);
  EXPECT_FALSE(box.GetCheck());
  EXPECT_EQ(Commands(), 0u);
}

TEST_F(ButtonTest, CheckBox_RadioStaysChecked) {
  CSomCheckBox radio{nullptr, true};
  radio.Create(&host, 100, 100, 14, 14, 1011, kFixedStyle);
  Click(105, 105);
  Click(105, 105);
  EXPECT_TRUE(radio.GetCheck());
  EXPECT_EQ(Commands(), 2u);
}

TEST_F(ButtonTest, CheckBox_ClickOnMixedChecksIt) {
  box.SetMixed(true);
  Click(12, 52);
  EXPECT_TRUE(box.GetCheck());
  EXPECT_FALSE(box.IsMixed());
}

TEST_F(ButtonTest, CheckBox_SetCheckWithTheCurrentStateDoesNothingUnlessMixed) {
  box.SetCheck(true);
  const int paints = host.platform.dcsTaken;
  box.SetCheck(true);
  EXPECT_EQ(host.platform.dcsTaken, paints);  // no repaint
  box.SetMixed(true);
  box.SetCheck(true);
  EXPECT_FALSE(box.IsMixed());
  EXPECT_TRUE(box.GetCheck());
}

}  // namespace
