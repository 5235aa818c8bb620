#pragma once

#include <windows.h>

#include <string>

#include "download/download_window.h"

// The download driver's prompts, each run modal over the download window.
class CDownloadPromptsWin : public IDownloadPrompts {
 public:
  // `closing` is the window's: set once the player chose "关闭".
  CDownloadPromptsWin(const bool& closing, std::wstring gameName)
      : m_closing(closing), m_gameName(std::move(gameName)) {}

  // The window that owns the prompts, once it exists.
  void Attach(HWND owner) { m_owner = owner; }
  // Whether a prompt's loop runs now (prompts nest).
  bool Running() const { return m_depth > 0; }

  int ShowDirError(const std::wstring& message) override;
  int ShowDownloadFailedPrompt() override;
  int ShowFileCheckFailedPrompt(bool moreFiles) override;
  int ShowInstallPrompt() override;
  int ShowFileErrPrompt() override;
  int ShowFileDamagedPrompt() override;
  void ShowDirOpenFailedPrompt() override;

 private:
  template <typename Prompt>
  int Run(Prompt& prompt);

  const bool& m_closing;
  std::wstring m_gameName;
  HWND m_owner = nullptr;
  int m_depth = 0;
};
