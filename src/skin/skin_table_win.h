#pragma once

// The Win32 parts of the skin: the shared memory device context, the font
// face, and installing the Win32 services of the toolkit.
#include <windows.h>

#include "base/scoped_win.h"
#include "skin/skin_table.h"
#include "skin/som_bitmap_win.h"

// One memory DC compatible with the screen, for selecting bitmaps and for
// measuring text.
class SharedMemoryDC {
 public:
  SharedMemoryDC();
  HDC Get() const { return m_hdc.Get(); }

 private:
  ScopedMemoryDC m_hdc;
};

SharedMemoryDC& TheSharedMemoryDC();

// The face name of the skin fonts: "Tahoma" up to Windows major version 5,
// "微软雅黑" after.
const wchar_t* SkinFontFace(DWORD majorVersion);

// Installs the Win32 image and text services and builds the memory DC and
// the skin table: called once at start-up, before the first skinned window.
void UseWin32Skin();

// Everything the skinned windows need from Win32: the element manager's
// platform and the skin's services. Installed once at start-up, before the
// first window.
void InstallSkinServices();
