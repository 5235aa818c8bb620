#pragma once

// What a prompt's run returns.
enum PromptResult {
  PromptResultClose = 0,
  PromptResultCancel = 1,
  PromptResultAction = 2,
  PromptResultFeedback = 3,
  PromptResultNone = 4,
};
