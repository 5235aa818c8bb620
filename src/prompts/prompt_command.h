#pragma once

#include <cstdint>

#include "download/download_ids.h"
#include "prompts/prompt_result.h"

// Ids of the prompt's elements.
constexpr int kPromptIdTitle = 1;
constexpr int kPromptIdClose = 100;
constexpr int kPromptIdCancel = 101;
constexpr int kPromptIdAction = 102;
constexpr int kPromptIdFeedbackLink = 103;

// How a prompt class reacts to its third button and link.
enum class PromptKind {
  NoAction,         // only the close cross and 关闭
  Action,           // 102 ends the prompt with result 2
  FileCheckFailed,  // as Action, and the feedback link 103 asks the owner for the feedback page
  OlderVersion,     // 102 opens the download page, then the program ends
  InitialFailed,    // 102 starts initialization again; the program goes on
};

// What one WM_COMMAND does to a prompt.
struct PromptCommandOutcome {
  int result = -1;  // new result code, -1: unchanged
  bool destroyWindow = false;
  bool postQuit = false;               // ends RunPromptModal's loop (or the program, for the modeless two)
  bool requestFeedback = false;        // send the owner kCmdFeedback
  bool openPage = false;               // COlderVersionDlg: open its page
  bool restartInitialization = false;  // CInitialFailedDlg: a new start-up window
};

// The whole wParam is compared, so a command with a notification code in its
// high word matches no element and only ends the prompt.
PromptCommandOutcome DecidePromptCommand(PromptKind kind, uintptr_t wParam);
