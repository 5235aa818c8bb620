#pragma once

// What a prompt gives back: its result, and the command its feedback link
// sends its owner.

enum PromptResult {
  PromptResultClose = 0,
  PromptResultCancel = 1,
  PromptResultAction = 2,
  PromptResultFeedback = 3,
  PromptResultNone = 4,
};

// The download window's feedback command: its caption button sends it, and
// so does the file-check prompt's feedback link, to the prompt's owner.
constexpr int kCmdFeedback = 17;
