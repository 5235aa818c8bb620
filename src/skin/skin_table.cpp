#include "skin/skin_table.h"

#include "skin/skin_resource_ids.h"

SkinTable::SkinTable()
    : m_bmpWindowFrame(IDB_WINDOW_FRAME, 4, 47, 4, 146),
      m_bmpClose(IDB_CLOSE, 3),
      m_bmpMinimize(IDB_MINIMIZE, 3),
      m_bmpFeedbackCaption(IDB_FEEDBACK_CAPTION, 3),
      m_bmpPromptBackground(IDB_PROMPT_BACKGROUND, 1),
      m_bmpCloseLabel(IDB_BTN_CLOSE_LABEL, 3),
      m_bmpChangeDir(IDB_BTN_CHANGE_DIR, 3),
      m_bmpDownloadAgain(IDB_BTN_DOWNLOAD_AGAIN, 3),
      m_bmpDownload(IDB_BTN_DOWNLOAD, 3),
      m_bmpRetry(IDB_BTN_RETRY, 3),
      m_bmpWarning(IDB_WARNING, 1),
      m_bmpContinue(IDB_BTN_CONTINUE, 3),
      m_bmpInstallNow(IDB_BTN_INSTALL_NOW, 3),
      m_bmpFeedback(IDB_BTN_FEEDBACK, 3) {}

SkinTable::~SkinTable() {
  for (SomFont& font : m_fonts) {
    if (font) SomImageServices().DeleteFont(font);
    font = nullptr;
  }
}

SomFont SkinTable::GetFont(int index) {
  if (index < 0 || index >= kFontCount) return nullptr;
  if (!m_fontsMade) m_fontsMade = SomImageServices().CreateSkinFonts(m_fonts);
  return m_fonts[index];
}

SkinTable& TheSkinTable() {
  static SkinTable table;
  return table;
}
