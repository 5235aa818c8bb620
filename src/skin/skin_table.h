#pragma once

// The process-wide skin: the sixteen fonts and the bitmaps shared by the
// prompts and the two main windows.
#include "skin/som_bitmap.h"
#include "skin/som_types.h"

class SkinTable {
 public:
  static constexpr int kFontCount = 16;

  SkinTable();
  ~SkinTable();
  SkinTable(const SkinTable&) = delete;
  SkinTable& operator=(const SkinTable&) = delete;

  // Font `index` (0..15), or null outside that range or on a host without
  // fonts. The fonts are made on the first call that can make them.
  SomFont GetFont(int index);

  CSomBitmap9Part m_bmpWindowFrame;  // 101
  CSomBitmap m_bmpClose;             // 102, 3 frames
  CSomBitmap m_bmpMinimize;          // 115, 3 frames
  CSomBitmap m_bmpFeedbackCaption;   // 116, 3 frames
  CSomBitmap m_bmpPromptBackground;  // 125
  CSomBitmap m_bmpCloseLabel;        // 126, 3 frames
  CSomBitmap m_bmpChangeDir;         // 127, 3 frames
  CSomBitmap m_bmpDownloadAgain;     // 129, 3 frames
  CSomBitmap m_bmpDownload;          // 128, 3 frames
  CSomBitmap m_bmpRetry;             // 130, 3 frames
  CSomBitmap m_bmpWarning;           // 112
  CSomBitmap m_bmpContinue;          // 134, 3 frames
  CSomBitmap m_bmpInstallNow;        // 135, 3 frames
  CSomBitmap m_bmpFeedback;          // 136, 3 frames

 private:
  SomFont m_fonts[kFontCount] = {};
  bool m_fontsMade = false;
};

SkinTable& TheSkinTable();
