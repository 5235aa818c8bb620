#include "skin/element_geometry.h"

#include <algorithm>
#include <cstdint>

namespace {
constexpr int kIconGap = 5;
constexpr int kButtonPadding = 15;
constexpr int kCheckBoxGap = 5;
}  // namespace

int ButtonLook(bool disabled, bool hover, bool pressed) {
  if (disabled) return 3;
  if (hover && pressed) return 2;
  if (hover) return 1;
  return 0;
}

ButtonLayout ComputeButtonLayout(bool autoSize, bool hasImage, SomSize imageFrame, int elementWidth,
                                 const ButtonContent& content) {
  int contentWidth = 0;
  if (content.hasIcon) contentWidth += content.iconWidth;
  if (content.hasCaption) contentWidth += content.captionWidth;
  if (content.hasIcon && content.hasCaption) contentWidth += kIconGap;

  ButtonLayout layout;
  if (!autoSize) {
    layout.xContent = (elementWidth - contentWidth) / 2;
  } else if (hasImage) {
    int width = std::max(contentWidth + kButtonPadding, imageFrame.cx);
    layout.resize = true;
    layout.size = SomSize{width, imageFrame.cy};
    layout.xContent = (width - contentWidth) / 2;
  }
  return layout;
}

int CheckBoxFrame(bool disabled, bool hover, bool pressed, bool checked, bool mixed, bool radio) {
  if (mixed && !radio) return 8;
  const int base = checked ? 4 : 0;
  if (disabled) return base + 3;
  if (hover && pressed) return base + 2;
  if (hover) return base + 1;
  return base;
}

CheckBoxLayout ComputeCheckBoxLayout(SomSize imageFrame, bool hasCaption, SomSize captionSize, bool imageHasAlpha) {
  CheckBoxLayout layout;
  layout.size = imageFrame;
  layout.transparent = imageHasAlpha;
  if (hasCaption) {
    layout.size.cx += captionSize.cx + kCheckBoxGap;
    layout.size.cy = std::max(captionSize.cy, imageFrame.cy);
    layout.transparent = true;
  }
  return layout;
}

bool SetProgressRange(ProgressRange& bar, int min, int max) {
  if (!(min < max)) return false;
  if (min == bar.min && max == bar.max) return false;
  bar.min = min;
  bar.max = max;
  bar.pos = min;
  return true;
}

bool SetProgressValue(ProgressRange& bar, int value) {
  value = std::clamp(value, bar.min, bar.max);
  if (value == bar.pos) return false;
  bar.pos = value;
  return true;
}

int ProgressFillWidth(const ProgressRange& bar, int width) {
  const std::int64_t span = static_cast<std::int64_t>(bar.max) - bar.min;
  if (span <= 0 || width <= 0) return 0;
  // 64 bits: a range such as 0 to 2^31-1 would overflow the product.
  return static_cast<int>((static_cast<std::int64_t>(bar.pos) - bar.min) * width / span);
}

std::vector<ProgressBlit> ProgressBlits(int width, int cap, int fill, int trackWidth, int fillImageWidth) {
  std::vector<ProgressBlit> blits;
  auto add = [&blits](bool fromFill, int srcX, int srcWidth, int dstX, int dstWidth) {
    if (srcWidth > 0 && dstWidth > 0) blits.push_back(ProgressBlit{fromFill, srcX, srcWidth, dstX, dstWidth});
  };
  add(false, 0, cap, 0, cap);
  add(false, cap, trackWidth - 2 * cap, cap, width - 2 * cap);
  add(false, trackWidth - cap, cap, width - cap, cap);

  if (fill < cap) {
    add(true, 0, fill, 0, fill);
  } else {
    add(true, 0, cap, 0, cap);
    if (fill - 2 * cap <= 0) {
      // Short fills still show both caps, the right one straight after the left.
      add(true, fillImageWidth - cap, cap, cap, cap);
    } else {
      add(true, cap, 1, cap, fill - 2 * cap);
      add(true, fillImageWidth - cap, cap, fill - cap, cap);
    }
  }
  return blits;
}
