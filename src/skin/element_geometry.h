#pragma once

// The arithmetic of the buttons, check box and progress bars, apart from
// GDI so it can be checked on its own.
#include <vector>

struct SomSize {
  int cx = 0;
  int cy = 0;
};

// Colours of captions: black when enabled, grey when disabled.
constexpr unsigned kCaptionColor = 0x000000;
constexpr unsigned kDisabledCaptionColor = 0x666666;

// Look of a four-state button: 0 normal, 1 hover, 2 pressed, 3 disabled.
// Pressed without hover (dragged off) shows the normal look.
int ButtonLook(bool disabled, bool hover, bool pressed);

struct ButtonLayout {
  bool resize = false;  // set the element to size
  SomSize size;
  int xContent = 0;
};
struct ButtonContent {
  bool hasIcon = false;
  int iconWidth = 0;
  bool hasCaption = false;
  int captionWidth = 0;
};
// imageFrame is the background strip's frame size; hasImage false means no
// strip (or one that failed to load).
ButtonLayout ComputeButtonLayout(bool autoSize, bool hasImage, SomSize imageFrame, int elementWidth,
                                 const ButtonContent& content);

// Frame of the nine-frame check box strip.
int CheckBoxFrame(bool disabled, bool hover, bool pressed, bool checked, bool mixed, bool radio);

struct CheckBoxLayout {
  SomSize size;
  bool transparent = false;
};
// captionSize 0 × 0 means no caption. An image with an alpha channel (rounded
// corners) needs the background painted under it.
CheckBoxLayout ComputeCheckBoxLayout(SomSize imageFrame, bool hasCaption, SomSize captionSize,
                                     bool imageHasAlpha = false);

// Range and value of a progress bar. Both return true when the bar must be
// repainted.
struct ProgressRange {
  int min = 0;
  int max = 100;
  int pos = 0;
};
bool SetProgressRange(ProgressRange& bar, int min, int max);
bool SetProgressValue(ProgressRange& bar, int value);
// Width of the filled part of a bar `width` pixels wide.
int ProgressFillWidth(const ProgressRange& bar, int width);

// One copy from the track or fill strip onto the bar; a copy is a stretch
// when source and destination widths differ.
struct ProgressBlit {
  bool fromFill = false;
  int srcX = 0;
  int srcWidth = 0;
  int dstX = 0;
  int dstWidth = 0;
};
// The copies that paint a bar of `width` with caps `cap` wide: the track
// first, then the fill `fill` pixels long. Heights are the strips' own.
std::vector<ProgressBlit> ProgressBlits(int width, int cap, int fill, int trackWidth, int fillImageWidth);
