#pragma once

#include <functional>
#include <string>
#include <vector>

// Where the body text of a prompt goes: a 235-pixel column centred in the
// window, lines broken between any two characters (there is no word breaking,
// so numbers and paths break too).
constexpr int kPromptColumnWidth = 235;
constexpr int kPromptLineGap = 5;

struct PromptTextCell {
  size_t first = 0;  // index of the cell's first code unit in the message
  size_t count = 0;  // 1, or 2 for a surrogate pair
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct PromptMessageLayout {
  int columnLeft = 0;
  int columnRight = 0;
  int firstTop = 0;
  int lineCount = 0;  // the lines the vertical centring assumed
  std::vector<PromptTextCell> cells;
};

// textWidth and textHeight are the extent of the whole message in the prompt
// font; charWidth measures one character (one or two code units).
PromptMessageLayout LayoutPromptMessage(const std::wstring& message, int clientWidth, int clientHeight, int textWidth,
                                        int textHeight,
                                        const std::function<int(const wchar_t* chars, size_t count)>& charWidth);
