#pragma once

// The Win32 side of skin images: DIB sections, GDI copies, PNG and JPEG
// decoding.
#include <windows.h>

#include <cstddef>

#include "skin/som_bitmap.h"

// PNG → DIB section: 24 bits (BGR) or 32 bits (BGRA, premultiplied), rows
// top-down. Null when the data is not a PNG or cannot be decoded.
HBITMAP DecodePng(const BYTE* bytes, size_t size);
// JPEG → 24-bit BGR top-down DIB section, or null.
HBITMAP DecodeJpeg(const BYTE* bytes, size_t size);

// Installs the Win32 image services (loading from the program's resources or
// files, AlphaBlend/BitBlt/StretchBlt, the skin fonts).
void UseWin32SomImageServices();
