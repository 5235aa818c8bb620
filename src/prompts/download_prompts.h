#pragma once

#include <string>

#include "prompts/prompt_codes.h"

// The prompts the download window's driver shows; each runs its own message
// loop and returns its PromptResult.
class IDownloadPrompts {
 public:
  virtual int ShowDirError(const std::wstring& message) = 0;
  virtual int ShowDownloadFailedPrompt() = 0;
  virtual int ShowFileCheckFailedPrompt(bool moreFiles) = 0;
  virtual int ShowInstallPrompt() = 0;
  virtual int ShowFileErrPrompt() = 0;
  virtual int ShowFileDamagedPrompt() = 0;
  virtual void ShowDirOpenFailedPrompt() = 0;

 protected:
  ~IDownloadPrompts() = default;
};
