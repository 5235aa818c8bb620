#include "prompts/prompt_command.h"

PromptCommandOutcome DecidePromptCommand(PromptKind kind, uintptr_t wParam) {
  PromptCommandOutcome out;
  if (kind == PromptKind::FileCheckFailed && wParam == kPromptIdFeedbackLink) {
    // The owner opens the page; the prompt stays so the user can still decide.
    out.result = PromptResultFeedback;
    out.requestFeedback = true;
    return out;
  }
  if (wParam == kPromptIdClose) {
    out.result = PromptResultClose;
    out.destroyWindow = true;
  } else if (wParam == kPromptIdCancel) {
    out.result = PromptResultCancel;
    out.destroyWindow = true;
  } else if (wParam == kPromptIdAction && kind != PromptKind::NoAction) {
    out.result = PromptResultAction;
    out.destroyWindow = true;
    out.openPage = kind == PromptKind::OlderVersion;
    out.restartInitialization = kind == PromptKind::InitialFailed;
  }
  // Retry hands over to a new start-up window, so the program must go on.
  out.postQuit = !(kind == PromptKind::InitialFailed && wParam == kPromptIdAction);
  return out;
}
