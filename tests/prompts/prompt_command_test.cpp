#include "prompts/prompt_command.h"

#include <gtest/gtest.h>

TEST(PromptCommand, CloseAndCancelEndEveryPromptWithTheirResults) {
  for (PromptKind kind : {PromptKind::NoAction, PromptKind::Action, PromptKind::FileCheckFailed,
                          PromptKind::OlderVersion, PromptKind::InitialFailed}) {
    PromptCommandOutcome close = DecidePromptCommand(kind, kPromptIdClose);
    EXPECT_EQ(PromptResultClose, close.result);
    EXPECT_TRUE(close.destroyWindow);
    EXPECT_TRUE(close.postQuit);
    PromptCommandOutcome cancel = DecidePromptCommand(kind, kPromptIdCancel);
    EXPECT_EQ(PromptResultCancel, cancel.result);
    EXPECT_TRUE(cancel.destroyWindow);
    EXPECT_TRUE(cancel.postQuit);
    EXPECT_FALSE(cancel.openPage || cancel.restartInitialization || cancel.requestFeedback);
  }
}

TEST(PromptCommand, ActionButtonGivesResultTwo) {
  PromptCommandOutcome out = DecidePromptCommand(PromptKind::Action, kPromptIdAction);
  EXPECT_EQ(PromptResultAction, out.result);
  EXPECT_TRUE(out.destroyWindow);
  EXPECT_TRUE(out.postQuit);
  EXPECT_FALSE(out.openPage);
}

TEST(PromptCommand, PromptWithoutActionIgnores102ButStillEnds) {
  PromptCommandOutcome out = DecidePromptCommand(PromptKind::NoAction, kPromptIdAction);
  EXPECT_EQ(-1, out.result);
  EXPECT_FALSE(out.destroyWindow);
  EXPECT_TRUE(out.postQuit);
}

TEST(PromptCommand, FeedbackLinkAsksOwnerAndKeepsThePromptOpen) {
  PromptCommandOutcome out = DecidePromptCommand(PromptKind::FileCheckFailed, kPromptIdFeedbackLink);
  EXPECT_EQ(PromptResultFeedback, out.result);
  EXPECT_TRUE(out.requestFeedback);
  EXPECT_FALSE(out.destroyWindow);
  EXPECT_FALSE(out.postQuit);
  // Other prompts have no link: 103 is just another command.
  PromptCommandOutcome other = DecidePromptCommand(PromptKind::Action, kPromptIdFeedbackLink);
  EXPECT_FALSE(other.requestFeedback);
  EXPECT_TRUE(other.postQuit);
}

TEST(PromptCommand, RetryRestartsWithoutEndingTheProgram) {
  PromptCommandOutcome retry = DecidePromptCommand(PromptKind::InitialFailed, kPromptIdAction);
  EXPECT_EQ(PromptResultAction, retry.result);
  EXPECT_TRUE(retry.restartInitialization);
  EXPECT_TRUE(retry.destroyWindow);
  EXPECT_FALSE(retry.postQuit);
}

TEST(PromptCommand, OlderVersionDownloadOpensThePageAndEnds) {
  PromptCommandOutcome out = DecidePromptCommand(PromptKind::OlderVersion, kPromptIdAction);
  EXPECT_EQ(PromptResultAction, out.result);
  EXPECT_TRUE(out.openPage);
  EXPECT_TRUE(out.postQuit);
}

TEST(PromptCommand, WholeWParamIsCompared) {
  // A notification code in the high word is not the close cross.
  PromptCommandOutcome out = DecidePromptCommand(PromptKind::Action, (1u << 16) | kPromptIdClose);
  EXPECT_EQ(-1, out.result);
  EXPECT_FALSE(out.destroyWindow);
  EXPECT_TRUE(out.postQuit);
}
