#include "skin/markup.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(ParseMarkup, ColourTagGivesOneColouredRun) {
  auto s = ParseMarkup(L"{&#color=0xffffff}提示");
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].text, L"提示");
  EXPECT_EQ(s[0].colour, 0xFFFFFF);
  EXPECT_FALSE(s[0].IsLink());
  EXPECT_EQ(s[0].font, -1);
}

TEST(ParseMarkup, CommandLinkWithDecimalColour) {
  auto s = ParseMarkup(L"{&#a=button:102}{&#acolor=16678964}点击反馈");
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].link, L"button:102");
  EXPECT_EQ(s[0].colour, 0xFE8034);
  LinkAction action = ParseLinkAction(s[0].link);
  EXPECT_TRUE(action.isCommand);
  EXPECT_EQ(action.commandId, 102);
}

TEST(ParseMarkup, EveryTagEndsARunAndUnknownTagsChangeNothing) {
  auto s = ParseMarkup(L"ab{&#font=3}cd");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].font, -1);
  EXPECT_EQ(s[1].font, 2);

  s = ParseMarkup(L"ab{&#foo}cd");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].text, L"ab");
  EXPECT_EQ(s[1].text, L"cd");
  EXPECT_EQ(s[0].colour, s[1].colour);
  EXPECT_EQ(s[0].font, s[1].font);
}

TEST(ParseMarkup, ClosingTagsPopButNeverTheDefaults) {
  auto s = ParseMarkup(L"a{&#color=#ff}b{&#/color}c");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].colour, -1);
  EXPECT_EQ(s[1].colour, 0x0000FF);
  EXPECT_EQ(s[2].colour, -1);

  s = ParseMarkup(L"x{&#/color}{&#/color}y");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].colour, -1);
  EXPECT_EQ(s[1].colour, -1);

  s = ParseMarkup(L"{&#font=2}{&#font=5}a{&#/font}b{&#/font}{&#/font}c");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].font, 4);
  EXPECT_EQ(s[1].font, 1);
  EXPECT_EQ(s[2].font, -1);
}

TEST(ParseMarkup, LinkColourAppliesToLinkTextOnly) {
  auto s = ParseMarkup(L"{&#a=x}A{&#acolor=255}B{&#/acolor}C{&#/a}D");
  ASSERT_EQ(s.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s[i].link, L"x") << i;
  EXPECT_EQ(s[0].colour, -1);
  EXPECT_EQ(s[1].colour, 255);
  EXPECT_EQ(s[2].colour, -1);
  EXPECT_FALSE(s[3].IsLink());
  EXPECT_EQ(s[3].colour, -1);
  // A colour= inside a link does not colour the link, and acolor= outside one
  // does not colour plain text.
  s = ParseMarkup(L"{&#acolor=5}p{&#a=y}{&#color=7}q");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].colour, -1);
  EXPECT_EQ(s[1].colour, 5);
}

TEST(ParseMarkup, TagNamesIgnoreCaseAndFontsOutsideTheTableAreIgnored) {
  auto s = ParseMarkup(L"{&#COLOR=0X10}a{&#Font=16}b{&#font=17}c{&#font=0}d");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].colour, 0x10);
  EXPECT_EQ(s[1].font, 15);
  EXPECT_EQ(s[2].font, 15);
  EXPECT_EQ(s[3].font, 15);
}

TEST(ParseMarkup, UnclosedTagOpeningIsText) {
  auto s = ParseMarkup(L"ab{&#");
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].text, L"ab{&#");
  s = ParseMarkup(L"{&#color=1 x");
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].text, L"{&#color=1 x");
  // The "}" of a later tag closes an earlier opening: its body is then an
  // unknown tag and vanishes with it.
  s = ParseMarkup(L"a{&#b{&#color=1}c");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].text, L"a");
  EXPECT_EQ(s[1].text, L"c");
  EXPECT_TRUE(ParseMarkup(L"").empty());
  EXPECT_TRUE(ParseMarkup(L"{&#color=1}").empty());
}

TEST(ParseColorValue, ReadsTheThreeNotationsAndStopsAtTheFirstStrayCharacter) {
  EXPECT_EQ(ParseColorValue(L"0xffffff"), 0xFFFFFF);
  EXPECT_EQ(ParseColorValue(L"#FF"), 0xFF);
  EXPECT_EQ(ParseColorValue(L"16678964"), 16678964);
  EXPECT_EQ(ParseColorValue(L"  +12px"), 12);
  EXPECT_EQ(ParseColorValue(L"-1"), -1);
  EXPECT_EQ(ParseColorValue(L"red"), 0);
  EXPECT_EQ(ParseColorValue(L""), 0);
  EXPECT_EQ(ParseColorValue(L"#"), 0);
  EXPECT_EQ(ParseColorValue(L"0x"), 0);
  EXPECT_EQ(ParseColorValue(L"99999999999999"), INT32_MAX);
}

TEST(ParseLinkAction, CommandsAndShellTargets) {
  EXPECT_EQ(ParseLinkAction(L"BUTTON:0x1F").commandId, 31);
  EXPECT_TRUE(ParseLinkAction(L"button:abc").isCommand);
  EXPECT_EQ(ParseLinkAction(L"button:abc").commandId, 0);
  EXPECT_FALSE(ParseLinkAction(L"http://example.com/").isCommand);
  EXPECT_FALSE(ParseLinkAction(L"button").isCommand);
}

TextExtent FakeMeasure(const std::wstring& text, int font) {
  // Font -1 is 12 high, skin font n is 12 + n high; every character 10 wide.
  return {static_cast<int>(text.size()) * 10, 12 + (font < 0 ? 0 : font)};
}

TEST(LayoutSegments, RunsSitSideBySideOnACommonBottom) {
  auto s = ParseMarkup(L"ab{&#font=5}cde{&#/font}f");
  TextExtent line = LayoutSegments(&s, FakeMeasure);
  EXPECT_EQ(line.cx, 60);
  EXPECT_EQ(line.cy, 16);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].rect.left, 0);
  EXPECT_EQ(s[0].rect.right, 20);
  EXPECT_EQ(s[0].rect.top, 4);
  EXPECT_EQ(s[1].rect.left, 20);
  EXPECT_EQ(s[1].rect.right, 50);
  EXPECT_EQ(s[1].rect.top, 0);
  EXPECT_EQ(s[2].rect.left, 50);
  for (const auto& seg : s) EXPECT_EQ(seg.rect.bottom, 16);

  std::vector<Segment> none;
  TextExtent empty = LayoutSegments(&none, FakeMeasure);
  EXPECT_EQ(empty.cx, 0);
  EXPECT_EQ(empty.cy, 0);
}

TEST(LayoutSegments, WidthLimitCutsTheSizeAndDecidesHowRunsDraw) {
  auto s = ParseMarkup(L"0123456789{&#color=1}abcd{&#color=2}x");  // 100 + 40 + 10 wide
  TextExtent line = LayoutSegments(&s, FakeMeasure);
  EXPECT_EQ(line.cx, 150);
  EXPECT_EQ(AutoSizeExtent(line, 100).cx, 100);
  EXPECT_EQ(AutoSizeExtent(line, -1).cx, 150);
  EXPECT_EQ(AutoSizeExtent(line, 200).cx, 150);

  EXPECT_EQ(FitSegment(s[0].rect, 100), SegmentFit::Whole);
  EXPECT_EQ(FitSegment(s[1].rect, 100), SegmentFit::Hidden);
  EXPECT_EQ(FitSegment(s[1].rect, 120), SegmentFit::Ellipsis);
  EXPECT_EQ(FitSegment(s[2].rect, 120), SegmentFit::Hidden);
  EXPECT_EQ(FitSegment(s[2].rect, -1), SegmentFit::Whole);
}

TEST(HitSegment, FirstRunContainingThePoint) {
  auto s = ParseMarkup(L"ab{&#a=x}cd");
  LayoutSegments(&s, FakeMeasure);
  EXPECT_EQ(HitSegment(s, 0, 0), 0);
  EXPECT_EQ(HitSegment(s, 19, 11), 0);
  EXPECT_EQ(HitSegment(s, 20, 0), 1);
  EXPECT_EQ(HitSegment(s, 40, 0), -1);
  EXPECT_EQ(HitSegment(s, 5, 12), -1);
  EXPECT_EQ(HitSegment(s, -1, 0), -1);
}

TEST(SegmentColour, HoverThenOwnColourThenDefaults) {
  Segment plain;
  Segment link;
  link.link = L"x";
  EXPECT_EQ(SegmentColour(plain, false, 1, 2, 3), 1);
  EXPECT_EQ(SegmentColour(link, false, 1, 2, 3), 2);
  EXPECT_EQ(SegmentColour(link, true, 1, 2, 3), 3);
  link.colour = 0xFE8034;
  plain.colour = 9;
  EXPECT_EQ(SegmentColour(link, false, 1, 2, 3), 0xFE8034);
  EXPECT_EQ(SegmentColour(plain, false, 1, 2, 3), 9);
}

}  // namespace

TEST(ParseMarkup, LongLinksAndUnclosedTagsCostLinearTimeAndMemory) {
  // A long link over many runs is stored once, not once per run.
  std::wstring text = L"{&#a=http://h/" + std::wstring(65534, L'p') + L"}";
  for (int i = 0; i < 20000; ++i) text += L"x{&#font=1}";
  std::vector<Segment> s = ParseMarkup(text);
  ASSERT_EQ(s.size(), 20000u);
  EXPECT_EQ(s.back().link.str().size(), 65534u + 9);
  EXPECT_EQ(&s.front().link.str(), &s.back().link.str());

  // Unclosed tags stay text, and none of them searches the rest again.
  std::wstring unclosed;
  for (int i = 0; i < 200000; ++i) unclosed += L"{&#";
  const auto start = std::chrono::steady_clock::now();
  s = ParseMarkup(unclosed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].text, unclosed);
}

