#include "config/freshness.h"

#include <gtest/gtest.h>

#include "config/downloader_config.h"
#include "net/http_body.h"

TEST(IsFreshFile, AgeAgainstLimit) {
  const int64_t now = 1'800'000'000;
  const uint32_t limit = kSkinMaxAgeSeconds;
  EXPECT_TRUE(IsFreshFile(true, now, now - 47 * 3600, limit));
  EXPECT_FALSE(IsFreshFile(true, now, now - 49 * 3600, limit));
  EXPECT_TRUE(IsFreshFile(true, now, now - (limit - 1), limit));
  EXPECT_FALSE(IsFreshFile(true, now, now - limit, limit));
  EXPECT_TRUE(IsFreshFile(true, now, now + 3600, limit));  // written "in the future"
}

TEST(IsFreshFile, ZeroLimitOrMissingFileNeverFresh) {
  EXPECT_FALSE(IsFreshFile(true, 100, 100, 0));
  EXPECT_FALSE(IsFreshFile(false, 100, 100, 1000));
}

TEST(InitProgressPosition, ConfigFileFillsFirstTwentySkinTheNext) {
  EXPECT_EQ(InitProgressPosition(500, 1000, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_FILE), 10);
  EXPECT_EQ(InitProgressPosition(1000, 1000, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_FILE), 20);
  EXPECT_EQ(InitProgressPosition(999, 1000, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_FILE), 19);  // truncated
  EXPECT_EQ(InitProgressPosition(1, 3, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_SKIN), 26);
  EXPECT_EQ(InitProgressPosition(3, 3, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_SKIN), 40);
}

TEST(InitProgressPosition, WithoutLengthPositionIsZero) {
  EXPECT_EQ(InitProgressPosition(5000, 0, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_SKIN), 0);
  EXPECT_EQ(InitProgressPosition(5000, 0, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_FILE), 0);
}

TEST(InitProgressPosition, OtherEventsAndNoFileIgnored) {
  EXPECT_EQ(InitProgressPosition(0, 0, HTTP_EVENT_CONNECTING, CONFIG_DOWNLOAD_FILE), -1);
  EXPECT_EQ(InitProgressPosition(0, 0, HTTP_EVENT_DONE, CONFIG_DOWNLOAD_SKIN), -1);
  EXPECT_EQ(InitProgressPosition(10, 20, HTTP_EVENT_PROGRESS, CONFIG_DOWNLOAD_NONE), -1);
}
