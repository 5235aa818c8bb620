#include "skin/skin_table_win.h"

#include "skin/som_platform_win.h"
#include "skin/som_text_wnd_win.h"

namespace {

struct FontStyle {
  LONG height;
  LONG weight;  // 0: that of DEFAULT_GUI_FONT
  BYTE underline;
  BYTE italic;
  bool alwaysYaHei;
};

const FontStyle kFontStyles[SkinTable::kFontCount] = {
    {-11, 0, 0, 0, false},   {-11, 700, 0, 0, false}, {-12, 400, 0, 0, false}, {-12, 700, 0, 0, false},
    {-13, 400, 0, 0, false}, {-13, 700, 0, 0, false}, {-16, 400, 0, 0, false}, {-16, 700, 0, 0, false},
    {-13, 700, 0, 0, false}, {-11, 400, 1, 0, false}, {-14, 700, 0, 0, false}, {-14, 400, 0, 0, false},
    {-12, 600, 0, 0, false}, {-20, 700, 0, 0, false}, {-12, 400, 1, 0, false}, {-28, 700, 0, 1, true},
};

const wchar_t kYaHei[] = L"微软雅黑";

DWORD WindowsMajorVersion() {
  // Only XP-era systems (major version 5, no YaHei font) need telling apart.
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExW(&info)) return 6;
#pragma GCC diagnostic pop
  return info.dwMajorVersion;
}

}  // namespace

const wchar_t* SkinFontFace(DWORD majorVersion) { return majorVersion <= 5 ? L"Tahoma" : kYaHei; }

// Called by the image services when the skin table first needs its fonts.
bool CreateWin32SkinFonts(SomFont fonts[SkinTable::kFontCount]) {
  LOGFONTW base = {};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(base), &base);
  const wchar_t* face = SkinFontFace(WindowsMajorVersion());
  for (int i = 0; i < SkinTable::kFontCount; ++i) {
    const FontStyle& style = kFontStyles[i];
    LOGFONTW lf = base;
    lf.lfHeight = style.height;
    if (style.weight) lf.lfWeight = style.weight;
    lf.lfUnderline = style.underline;
    lf.lfItalic = style.italic;
    ::lstrcpynW(lf.lfFaceName, style.alwaysYaHei ? kYaHei : face, LF_FACESIZE);
    fonts[i] = ::CreateFontIndirectW(&lf);
  }
  return true;
}

SharedMemoryDC::SharedMemoryDC() {
  ScopedGetDC screen(nullptr);
  m_hdc.Reset(::CreateCompatibleDC(screen.Get()));
}

void InstallSkinServices() {
  UseWin32SomPlatform();
  UseWin32Skin();
}

SharedMemoryDC& TheSharedMemoryDC() {
  static SharedMemoryDC dc;
  return dc;
}

void UseWin32Skin() {
  UseWin32SomImageServices();
  UseWin32SomTextServices();
  TheSharedMemoryDC();
  TheSkinTable();
}
