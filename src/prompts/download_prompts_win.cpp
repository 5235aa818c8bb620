#include "prompts/download_prompts_win.h"

#include "download/download_platform_win.h"
#include "prompts/prompt_dlg_win.h"

namespace {

// The download-failed prompt stays below a full-screen program.
class CDownloadFailedBelowDlg : public CDownLoadFailedDlg {
 public:
  void ShowForModalRun() override {
    if (IsFullScreenAppActive()) ::SetWindowPos(m_hWnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  }
};

}  // namespace

template <typename Prompt>
int CDownloadPromptsWin::Run(Prompt& prompt) {
  ++m_depth;
  const int result = RunPromptModal(prompt, m_owner);
  --m_depth;
  // The prompt went down with its window and its loop took the quit as its
  // own: ask again, so that the program's loop ends too.
  if (m_closing) ::PostQuitMessage(0);
  return result;
}

int CDownloadPromptsWin::ShowDirError(const std::wstring& message) {
  CDirErrDlg prompt;
  prompt.SetMessage(message.c_str());
  return Run(prompt);
}

int CDownloadPromptsWin::ShowDownloadFailedPrompt() {
  CDownloadFailedBelowDlg prompt;
  return Run(prompt);
}

int CDownloadPromptsWin::ShowFileCheckFailedPrompt(bool moreFiles) {
  CFileCheckFailedDlg prompt;
  prompt.SetAltAction(moreFiles ? TRUE : FALSE);
  return Run(prompt);
}

int CDownloadPromptsWin::ShowInstallPrompt() {
  CInstallGameDlg prompt;
  prompt.SetGameName(m_gameName.c_str());
  prompt.SetFullScreenTest(&IsFullScreenAppActive);
  return Run(prompt);
}

int CDownloadPromptsWin::ShowFileErrPrompt() {
  CFileErrDlg prompt;
  return Run(prompt);
}

int CDownloadPromptsWin::ShowFileDamagedPrompt() {
  CFileDamagedDlg prompt;
  return Run(prompt);
}

void CDownloadPromptsWin::ShowDirOpenFailedPrompt() {
  CDirOpenFailedDlg prompt;
  Run(prompt);
}
