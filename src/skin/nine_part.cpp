#include "skin/nine_part.h"

namespace {

// One axis of the nine parts: the first fixed band, the stretched middle and
// the last fixed band, as target and source offsets and lengths.
struct Band {
  int dst, len, src, srcLen;
};

struct Axis {
  Band bands[3];
};

// size: target length; image: frame length; first: length of the first fixed
// band; lastStart: where the last fixed band starts in the frame.
Axis SplitAxis(int size, int image, int first, int lastStart) {
  int last = image - lastStart;
  int middle = size - first - last;
  int firstOut = first;
  int lastOut = last;
  if (middle < 0) {
    // Too small for both fixed bands: share the room out in proportion and
    // show the outer part of each, so nothing is drawn mirrored.
    int fixed = first + last;
    firstOut = fixed > 0 ? static_cast<int>(static_cast<long long>(size) * first / fixed) : 0;
    lastOut = size - firstOut;
    middle = 0;
  }
  Axis a;
  a.bands[0] = {0, firstOut, 0, firstOut};
  a.bands[1] = {firstOut, middle, first, lastStart - first};
  a.bands[2] = {firstOut + middle, lastOut, image - lastOut, lastOut};
  return a;
}

}  // namespace

std::vector<ImageBlit> NinePartBlits(int cxFrame, int cyImage, const NinePartMargins& m, int frame, int x, int y,
                                     int cx, int cy) {
  std::vector<ImageBlit> blits;
  if (cx <= 0 || cy <= 0) return blits;
  Axis h = SplitAxis(cx, cxFrame, m.xLeft, m.xRight);
  Axis v = SplitAxis(cy, cyImage, m.yTop, m.yBottom);
  int f = frame * cxFrame;
  for (const Band& row : v.bands) {
    if (row.len <= 0) continue;
    for (const Band& col : h.bands) {
      if (col.len <= 0) continue;
      ImageBlit b;
      b.x = x + col.dst;
      b.y = y + row.dst;
      b.cx = col.len;
      b.cy = row.len;
      b.srcX = f + col.src;
      b.srcY = row.src;
      b.srcCx = col.srcLen;
      b.srcCy = row.srcLen;
      b.stretch = b.cx != b.srcCx || b.cy != b.srcCy;
      if (b.srcCx <= 0 || b.srcCy <= 0) continue;
      blits.push_back(b);
    }
  }
  return blits;
}
