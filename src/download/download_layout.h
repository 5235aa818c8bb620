#pragma once

// The download window's elements: where each sits, its id and its picture.
// The window itself (CDLDlg) and the gallery of the Wine tests both build from
// these, so that the gallery's screenshots show the window as it is.
#include <cstdint>
#include <string>

#include "download/download_ids.h"
#include "skin/skin_resource_ids.h"
#include "skin/skin_table.h"

// A button drawn with a picture of the skin table.
struct LayoutSkinButton {
  int id;
  int x;
  int y;
  CSomBitmap SkinTable::*image;
};

// A button (or check box) drawn with a picture of the program's resources,
// cut into `frames` frames.
struct LayoutPictureButton {
  int id;
  int x;
  int y;
  int resourceId;
  int frames;
};

// A text. `maxWidth` is where it wraps (0: it does not); `text` is the one
// the window shows at first (null: set at run time).
struct LayoutText {
  int id;
  int x;
  int y;
  int maxWidth;
  const wchar_t* text;
};

struct LayoutBar {
  int id;
  int x;
  int y;
  int cx;
  int cy;
  int capWidth;
};

struct LayoutRect {
  int left;
  int top;
  int right;
  int bottom;
};

namespace download_layout {

constexpr LayoutSkinButton kClose = {kCmdClose, 643, 26, &SkinTable::m_bmpClose};
constexpr LayoutSkinButton kMinimize = {kCmdMinimize, 615, 26, &SkinTable::m_bmpMinimize};
constexpr LayoutSkinButton kFeedback = {kCmdFeedback, 588, 26, &SkinTable::m_bmpFeedbackCaption};

// The five action buttons share one place; one of them shows at a time.
constexpr LayoutPictureButton kDownload = {kCmdDownload, 520, 319, IDB_BIG_DOWNLOAD, 3};
constexpr LayoutPictureButton kContinue = {kCmdContinue, 520, 319, IDB_BIG_CONTINUE, 3};
constexpr LayoutPictureButton kPause = {kCmdPause, 520, 319, IDB_BIG_PAUSE, 3};
constexpr LayoutPictureButton kInstall = {kCmdInstall, 520, 319, IDB_BIG_INSTALL, 3};
constexpr LayoutPictureButton kRedownload = {kCmdRedownload, 520, 319, IDB_BIG_DOWNLOAD_AGAIN, 3};

constexpr LayoutBar kProgress = {4, 87, 342, 420, 17, 9};

constexpr LayoutText kTitle = {5, 53, 22, 0, nullptr};
constexpr LayoutText kPromotion = {kCmdPromotion, 21, 392, 450, L"免费领取特权卡，激活码，快来Brenva网发卡平台！"};
constexpr uint32_t kPromotionColour = 89257;
// "打开" once the folder is accepted, "更改" before; one of the two shows.
constexpr LayoutText kOpenLink = {kCmdOpenDir, 217, 315, 0, L"打开"};
constexpr uint32_t kOpenLinkColour = 16678964;
constexpr LayoutText kChangeLink = {kCmdChangeDir, 217, 315, 0, L"更改"};
constexpr uint32_t kChangeLinkColour = 15518394;

constexpr LayoutPictureButton kCompanionBox = {kCmdCompanionBox, 22, 366, IDB_CHECKBOX, 9};
// The configuration's tip, or this text when it has none.
constexpr LayoutText kCompanionLabel = {0, 44, 367, 450, L"安装Tarn游戏Gardbox"};
constexpr LayoutText kVersion = {0, 470, 392, 190, nullptr};
constexpr LayoutText kPath = {23, 87, 315, 129, L"{&#color=0x888888}请点击下载按钮，选择游戏保存目录"};
constexpr LayoutText kProgressCaption = {9, 21, 342, 0, L"下载进度："};
constexpr LayoutText kPathCaption = {11, 21, 315, 0, L"保存路径："};
constexpr LayoutText kSpeed = {10, 408, 315, 0, L"速度："};

// The web page, or the stand-by picture in its place.
constexpr LayoutRect kWeb = {20, 56, 660, 301};

}  // namespace download_layout

// The steps that put one element of the table on its window, the same for
// the window and the gallery. `style` is the elements' CSomWnd style.
template <typename Manager, typename Button>
void PlaceSkinButton(Manager* manager, Button& button, const LayoutSkinButton& entry, SkinTable& skin,
                     std::uint32_t style) {
  button.Create(manager, entry.id, style);
  button.SetImage(&(skin.*entry.image));
  button.SetPos(entry.x, entry.y);
}

template <typename Manager, typename Button, typename Picture>
void PlacePictureButton(Manager* manager, Button& button, const LayoutPictureButton& entry, Picture* picture,
                        std::uint32_t style) {
  button.Create(manager, entry.id, style);
  button.SetImage(picture);
  button.SetPos(entry.x, entry.y);
}

template <typename Manager, typename Text>
void PlaceText(Manager* manager, Text& element, const LayoutText& entry, const std::wstring& text,
               std::uint32_t style) {
  element.Create(manager, entry.id, style);
  if (entry.maxWidth > 0) element.SetMaxWidth(entry.maxWidth);
  element.SetText(text);
  element.SetPos(entry.x, entry.y);
}

template <typename Manager, typename Bar>
void PlaceBar(Manager* manager, Bar& bar, const LayoutBar& entry, std::uint32_t style) {
  bar.Create(manager, entry.x, entry.y, entry.cx, entry.cy, entry.id, style);
  bar.SetCapWidth(entry.capWidth);
}

// A text that sends WM_COMMAND `id` when clicked, drawn in `colour`.
std::wstring LinkMarkup(int id, uint32_t colour, const std::wstring& text);
