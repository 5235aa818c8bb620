// libFuzzer entry: any bytes (as UTF-16 code units) through the label markup
// parser and layout. Runs never hold more text than the input, and the layout
// places them side by side.
#include <cstdlib>
#include <string>

#include "skin/markup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  std::vector<Segment> segments = ParseMarkup(text);
  size_t chars = 0;
  for (const Segment& s : segments) {
    if (s.text.empty()) std::abort();
    chars += s.text.size();
    ParseLinkAction(s.link);
  }
  if (chars > text.size()) std::abort();
  const TextExtent extent = LayoutSegments(
      &segments, [](const std::wstring& run, int font) { return TextExtent{static_cast<int>(run.size() % 97), font + 2}; });
  int x = 0;
  for (const Segment& s : segments) {
    if (s.rect.left != x || s.rect.bottom != extent.cy) std::abort();
    x = s.rect.right;
  }
  if (x != extent.cx) std::abort();
  return 0;
}
