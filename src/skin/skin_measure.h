#pragma once

// Sizes the elements lay themselves out by. On Windows they come from the
// decoded strips and font 2 of the skin table; hosts without GDI have
// neither and answer 0 × 0.
#include <string>

#include "skin/element_geometry.h"

class CSomBitmap;

// One frame of the strip; 0 × 0 when image is null or cannot be loaded.
SomSize SkinFrameSize(CSomBitmap* image);
// The caption in font 2 of the skin table.
SomSize SkinCaptionSize(const std::wstring& text);
