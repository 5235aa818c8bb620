#pragma once

// The label markup: "{&#name=value}" tags switching font, colour, link colour
// and link over plain text, and the one-line layout of the resulting runs.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct MarkupRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// A link action shared by every run it covers: a long action over many runs
// is stored once.
class SharedText {
 public:
  SharedText() = default;
  SharedText(std::wstring text)  // NOLINT(google-explicit-constructor): reads like the text it holds
      : m_text(text.empty() ? nullptr : std::make_shared<const std::wstring>(std::move(text))) {}
  SharedText(const wchar_t* text) : SharedText(std::wstring(text)) {}  // NOLINT(google-explicit-constructor)
  const std::wstring& str() const {
    static const std::wstring kEmpty;
    return m_text ? *m_text : kEmpty;
  }
  operator const std::wstring&() const { return str(); }  // NOLINT(google-explicit-constructor)
  bool empty() const { return !m_text; }
  friend bool operator==(const SharedText& a, const std::wstring& b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const wchar_t* b) { return a.str() == b; }

 private:
  std::shared_ptr<const std::wstring> m_text;
};

// One run of text with one look.
struct Segment {
  std::wstring text;
  MarkupRect rect;
  int font = -1;        // skin font index (0..15); -1 for the label's own font
  int32_t colour = -1;  // colour reference 0x00BBGGRR; -1 for the label's default
  SharedText link;      // link action; empty for ordinary text
  bool IsLink() const { return !link.empty(); }
};

// Parses markup into runs in text order (rectangles left empty).
std::vector<Segment> ParseMarkup(const std::wstring& markup);

// "#hex", "0xhex"/"0Xhex" or decimal, with leading blanks and a sign; reading
// stops at the first character that does not fit; no digits reads as 0.
int32_t ParseColorValue(const std::wstring& text);

// What a link does: "button:<number>" sends that command id (0 when the
// number is missing); anything else is opened with the shell.
struct LinkAction {
  bool isCommand = false;
  int commandId = 0;
};
LinkAction ParseLinkAction(const std::wstring& action);

struct TextExtent {
  int cx = 0;
  int cy = 0;
};
// Measures `text` in skin font `font` (-1: the label's own font).
using MeasureTextFn = std::function<TextExtent(const std::wstring& text, int font)>;

// Places the runs left to right from x = 0, bottoms aligned on the tallest
// run. Returns the total width and the line height.
TextExtent LayoutSegments(std::vector<Segment>* segments, const MeasureTextFn& measure);

// Size an auto-sized label takes: the layout width cut to maxWidth when that
// is set (not -1) and smaller.
TextExtent AutoSizeExtent(const TextExtent& layout, int maxWidth);

// Index of the first run containing the point, or -1.
int HitSegment(const std::vector<Segment>& segments, int x, int y);

// How a run is drawn against a width limit (-1: none).
enum class SegmentFit { Whole, Ellipsis, Hidden };
SegmentFit FitSegment(const MarkupRect& rect, int limit);

// The colour a run is drawn in.
int32_t SegmentColour(const Segment& segment, bool hovered, int32_t textColour, int32_t linkColour,
                      int32_t linkHoverColour);
