#include "prompts/message_wrap.h"

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

PromptMessageLayout LayoutPromptMessage(const std::wstring& message, int clientWidth, int clientHeight, int textWidth,
                                        int textHeight,
                                        const std::function<int(const wchar_t* chars, size_t count)>& charWidth) {
  PromptMessageLayout layout;
  if (message.empty()) return layout;
  layout.columnLeft = (clientWidth - kPromptColumnWidth) / 2;
  layout.columnRight = layout.columnLeft + kPromptColumnWidth;
  const int pitch = textHeight + kPromptLineGap;
  layout.lineCount = textWidth <= kPromptColumnWidth ? 1 : (textWidth + kPromptColumnWidth - 1) / kPromptColumnWidth;
  layout.firstTop = (clientHeight - layout.lineCount * pitch) / 2;

  int x = layout.columnLeft;
  int y = layout.firstTop;
  for (size_t i = 0; i < message.size();) {
    // A surrogate pair is one character: splitting it would draw two boxes.
    size_t count = (IsHighSurrogate(message[i]) && i + 1 < message.size() && IsLowSurrogate(message[i + 1])) ? 2 : 1;
    int width = charWidth(message.data() + i, count);
    // A character wider than the whole column stays on its line; breaking
    // before it would only push it down line after line.
    if (x + width > layout.columnRight && x > layout.columnLeft) {
      x = layout.columnLeft;
      y += pitch;
      if (y + pitch > clientHeight) break;
    }
    layout.cells.push_back({i, count, x, y, x + width, y + pitch});
    x += width;
    i += count;
  }
  return layout;
}
