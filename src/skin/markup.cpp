#include "skin/markup.h"

#include <algorithm>
#include <climits>
#include <cwctype>

namespace {

const wchar_t kTagOpen[] = L"{&#";
constexpr size_t kTagOpenLen = 3;

bool StartsWithNoCase(const std::wstring& text, size_t pos, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (pos + i >= text.size() || std::towlower(text[pos + i]) != std::towlower(prefix[i])) return false;
  }
  return true;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Leading blanks, a sign, then "#" (when allowed) or "0x" for hexadecimal,
// else decimal. Stops at the first character that does not fit and
// saturates at the 32-bit limits; no digits at all reads as 0.
int32_t ReadNumber(const std::wstring& text, size_t pos, bool allowHash) {
  while (pos < text.size() && std::iswspace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) negative = text[pos++] == L'-';
  int base = 10;
  if (allowHash && pos < text.size() && text[pos] == L'#') {
    base = 16;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == L'0' && (text[pos + 1] == L'x' || text[pos + 1] == L'X') &&
             pos + 2 < text.size() && HexDigit(text[pos + 2]) >= 0) {
    base = 16;
    pos += 2;
  }
  long long value = 0;
  for (; pos < text.size(); ++pos) {
    int d = HexDigit(text[pos]);
    if (d < 0 || d >= base) break;
    value = value * base + d;
    if (value > static_cast<long long>(INT32_MAX) + 1) value = static_cast<long long>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

int ReadDecimal(const std::wstring& text, size_t pos) { return ReadNumber(text, pos, false); }

// The four look stacks; each keeps its default entry at the bottom.
struct LookStacks {
  std::vector<int> font{-1};
  std::vector<int32_t> colour{-1};
  std::vector<int32_t> linkColour{-1};
  std::vector<SharedText> link{SharedText()};

  template <typename T>
  static void Pop(std::vector<T>& stack) {
    if (stack.size() > 1) stack.pop_back();
  }

  void Apply(const std::wstring& body) {
    auto value = [&body](size_t nameLen) { return body.substr(nameLen); };
    if (StartsWithNoCase(body, 0, L"a=")) {
      link.push_back(SharedText(value(2)));
    } else if (StartsWithNoCase(body, 0, L"/acolor")) {
      Pop(linkColour);
    } else if (StartsWithNoCase(body, 0, L"/a")) {
      Pop(link);
    } else if (StartsWithNoCase(body, 0, L"acolor=")) {
      linkColour.push_back(ParseColorValue(value(7)));
    } else if (StartsWithNoCase(body, 0, L"font=")) {
      int n = ReadDecimal(body, 5);
      if (n >= 1 && n <= 16) font.push_back(n - 1);
    } else if (StartsWithNoCase(body, 0, L"/font")) {
      Pop(font);
    } else if (StartsWithNoCase(body, 0, L"color=")) {
      colour.push_back(ParseColorValue(value(6)));
    } else if (StartsWithNoCase(body, 0, L"/color")) {
      Pop(colour);
    }
  }

  Segment MakeSegment(std::wstring text) const {
    Segment s;
    s.text = std::move(text);
    s.link = link.back();
    s.colour = s.link.empty() ? colour.back() : linkColour.back();
    s.font = font.back();
    return s;
  }
};

}  // namespace

int32_t ParseColorValue(const std::wstring& text) { return ReadNumber(text, 0, true); }

LinkAction ParseLinkAction(const std::wstring& action) {
  LinkAction result;
  if (StartsWithNoCase(action, 0, L"button:")) {
    result.isCommand = true;
    result.commandId = ReadNumber(action, 7, false);
  }
  return result;
}

std::vector<Segment> ParseMarkup(const std::wstring& markup) {
  std::vector<Segment> segments;
  LookStacks stacks;
  std::wstring run;
  // The next "}" is looked for again only once the reading has passed it, so
  // many unclosed tags do not each search the rest of the text.
  size_t close = 0;
  bool closeFound = false;
  size_t i = 0;
  while (i < markup.size()) {
    if (markup.compare(i, kTagOpenLen, kTagOpen) == 0) {
      if (!closeFound || close < i + kTagOpenLen) {
        close = markup.find(L'}', i + kTagOpenLen);
        closeFound = true;
      }
      if (close != std::wstring::npos) {
        if (!run.empty()) segments.push_back(stacks.MakeSegment(std::move(run)));
        run.clear();
        stacks.Apply(markup.substr(i + kTagOpenLen, close - i - kTagOpenLen));
        i = close + 1;
        continue;
      }
    }
    run += markup[i++];
  }
  if (!run.empty()) segments.push_back(stacks.MakeSegment(std::move(run)));
  return segments;
}

TextExtent LayoutSegments(std::vector<Segment>* segments, const MeasureTextFn& measure) {
  std::vector<TextExtent> sizes;
  sizes.reserve(segments->size());
  int lineHeight = 0;
  for (const Segment& s : *segments) {
    sizes.push_back(measure(s.text, s.font));
    lineHeight = std::max(lineHeight, sizes.back().cy);
  }
  int x = 0;
  for (size_t i = 0; i < segments->size(); ++i) {
    MarkupRect& r = (*segments)[i].rect;
    r.left = x;
    r.right = x + sizes[i].cx;
    r.top = lineHeight - sizes[i].cy;
    r.bottom = lineHeight;
    x = r.right;
  }
  return {x, lineHeight};
}

TextExtent AutoSizeExtent(const TextExtent& layout, int maxWidth) {
  TextExtent size = layout;
  if (maxWidth != -1 && maxWidth < size.cx) size.cx = maxWidth;
  return size;
}

int HitSegment(const std::vector<Segment>& segments, int x, int y) {
  for (size_t i = 0; i < segments.size(); ++i) {
    if (segments[i].rect.Contains(x, y)) return static_cast<int>(i);
  }
  return -1;
}

SegmentFit FitSegment(const MarkupRect& rect, int limit) {
  if (limit == -1 || limit >= rect.right) return SegmentFit::Whole;
  // A run that begins at or past the limit would only show a stray ellipsis.
  if (rect.left >= limit) return SegmentFit::Hidden;
  return SegmentFit::Ellipsis;
}

int32_t SegmentColour(const Segment& segment, bool hovered, int32_t textColour, int32_t linkColour,
                      int32_t linkHoverColour) {
  if (hovered) return linkHoverColour;
  if (segment.IsLink()) return segment.colour == -1 ? linkColour : segment.colour;
  return segment.colour == -1 ? textColour : segment.colour;
}
