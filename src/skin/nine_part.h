#pragma once

// Where each piece of an image strip goes when a frame is drawn in nine
// parts or a progress bar is drawn with caps. Pure arithmetic; the Win32
// side turns each piece into one copy or stretch.
#include <vector>

struct ImageBlit {
  int x, y, cx, cy;              // target
  int srcX, srcY, srcCx, srcCy;  // source, in bitmap coordinates
  bool stretch;                  // false: 1:1 copy (srcCx == cx, srcCy == cy)
};

struct NinePartMargins {
  int xLeft;    // width of the left column
  int xRight;   // x at which the right column starts
  int yTop;     // height of the top row
  int yBottom;  // y at which the bottom row starts
};

// Pieces of frame `frame` (frames cxFrame wide, cyImage high) drawn into
// (x, y, cx, cy). Empty for cx <= 0 or cy <= 0. When the target is narrower
// (or lower) than the two fixed columns (rows) together, the fixed parts are
// shared out in proportion and cut, never mirrored.
std::vector<ImageBlit> NinePartBlits(int cxFrame, int cyImage, const NinePartMargins& m, int frame, int x, int y,
                                     int cx, int cy);
