#include "prompts/message_wrap.h"

#include <gtest/gtest.h>

namespace {

// Every character 10 pixels wide, so a message of n characters is 10n wide.
int TenPixels(const wchar_t*, size_t) { return 10; }

PromptMessageLayout Layout(const std::wstring& text, int height = 201, int lineHeight = 12) {
  return LayoutPromptMessage(text, 404, height, static_cast<int>(text.size()) * 10, lineHeight, TenPixels);
}

std::vector<int> LineTops(const PromptMessageLayout& layout) {
  std::vector<int> tops;
  for (const auto& cell : layout.cells)
    if (tops.empty() || tops.back() != cell.top) tops.push_back(cell.top);
  return tops;
}

}  // namespace

TEST(MessageWrap, ShortMessageIsOneLineCentredBothWays) {
  PromptMessageLayout layout = Layout(L"下载文件被破坏");
  EXPECT_EQ(84, layout.columnLeft);  // (404 - 235) / 2
  EXPECT_EQ(319, layout.columnRight);
  EXPECT_EQ(1, layout.lineCount);
  EXPECT_EQ(92, layout.firstTop);  // (201 - 17) / 2
  ASSERT_EQ(7u, layout.cells.size());
  EXPECT_EQ(84, layout.cells[0].left);
  EXPECT_EQ(94, layout.cells[1].left);
  EXPECT_EQ(109, layout.cells[0].bottom);  // line pitch is the text height + 5
  EXPECT_EQ(std::vector<int>{92}, LineTops(layout));
}

TEST(MessageWrap, LineCountIsWidthOverColumnRoundedUp) {
  // 235 pixels still fit one line; 236 need two; 500 need three.
  EXPECT_EQ(1, LayoutPromptMessage(L"x", 404, 201, 235, 12, TenPixels).lineCount);
  EXPECT_EQ(2, LayoutPromptMessage(L"x", 404, 201, 236, 12, TenPixels).lineCount);
  PromptMessageLayout layout = LayoutPromptMessage(std::wstring(50, L'字'), 404, 201, 500, 12, TenPixels);
  EXPECT_EQ(3, layout.lineCount);
  EXPECT_EQ(75, layout.firstTop);  // (201 - 3 * 17) / 2
  EXPECT_EQ((std::vector<int>{75, 92, 109}), LineTops(layout));
  EXPECT_EQ(50u, layout.cells.size());
}

TEST(MessageWrap, BreaksBetweenAnyTwoCharactersEvenInsideNumbers) {
  // 23 characters fill 230 of the 235 pixels; the 24th starts the next line,
  // in the middle of the number.
  std::wstring text = L"磁盘空间不足请重新选择目录12345678901234567";
  PromptMessageLayout layout = Layout(text);
  ASSERT_EQ(text.size(), layout.cells.size());
  EXPECT_EQ(layout.cells[0].top, layout.cells[22].top);
  EXPECT_EQ(314, layout.cells[22].right);
  EXPECT_EQ(layout.cells[0].top + 17, layout.cells[23].top);
  EXPECT_EQ(84, layout.cells[23].left);
  // The break falls between the digits 0 and 1 of the number.
  EXPECT_EQ(L'0', text[layout.cells[22].first]);
  EXPECT_EQ(L'1', text[layout.cells[23].first]);
}

TEST(MessageWrap, CellsFollowTheirOwnWidths) {
  auto widths = [](const wchar_t* c, size_t) { return *c == L'i' ? 3 : 12; };
  PromptMessageLayout layout = LayoutPromptMessage(L"iWi", 404, 201, 18, 12, widths);
  ASSERT_EQ(3u, layout.cells.size());
  EXPECT_EQ(84, layout.cells[0].left);
  EXPECT_EQ(87, layout.cells[1].left);
  EXPECT_EQ(99, layout.cells[2].left);
  EXPECT_EQ(102, layout.cells[2].right);
}

TEST(MessageWrap, StopsWhenTheNextLineWouldPassTheBottom) {
  // A 60-pixel window holds three 17-pixel lines below the computed top at most.
  std::wstring text(200, L'a');
  PromptMessageLayout layout = Layout(text, 60);
  ASSERT_FALSE(layout.cells.empty());
  EXPECT_LT(layout.cells.size(), text.size());
  for (const auto& cell : layout.cells) EXPECT_LE(cell.bottom, 60);
}

TEST(MessageWrap, SurrogatePairStaysInOneCell) {
  std::wstring text = L"a";
  text += static_cast<wchar_t>(0xD83D);
  text += static_cast<wchar_t>(0xDE00);
  text += L"b";
  std::vector<size_t> counts;
  auto widths = [&](const wchar_t*, size_t count) {
    counts.push_back(count);
    return 10;
  };
  PromptMessageLayout layout = LayoutPromptMessage(text, 404, 201, 30, 12, widths);
  ASSERT_EQ(3u, layout.cells.size());
  EXPECT_EQ(2u, layout.cells[1].count);
  EXPECT_EQ(3u, layout.cells[2].first);
}

TEST(MessageWrap, CharacterWiderThanTheColumnIsStillPlaced) {
  auto widths = [](const wchar_t* c, size_t) { return *c == L'W' ? 300 : 10; };
  PromptMessageLayout layout = LayoutPromptMessage(L"aWb", 404, 201, 320, 12, widths);
  ASSERT_EQ(3u, layout.cells.size());
  EXPECT_EQ(layout.cells[0].top + 17, layout.cells[1].top);
  EXPECT_EQ(84, layout.cells[1].left);
  EXPECT_EQ(layout.cells[1].top + 17, layout.cells[2].top);
}

TEST(MessageWrap, EmptyMessageDrawsNothing) {
  PromptMessageLayout layout = Layout(L"");
  EXPECT_TRUE(layout.cells.empty());
  EXPECT_EQ(0, layout.lineCount);
}
