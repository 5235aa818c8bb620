#include "config/version_text.h"

#include <gtest/gtest.h>

TEST(FormatFileVersion, HighWordFirst) {
  EXPECT_EQ(FormatFileVersion(0x00010001, 0x000003F2), L"1.1.0.1010");
  EXPECT_EQ(FormatFileVersion(0xFFFF0000, 0x0000FFFF), L"65535.0.0.65535");
}

TEST(IsOlderVersion, DifferentLengthAlwaysOlder) {
  EXPECT_TRUE(IsOlderVersion(L"1.1.0.101", L"1.1.0.1010"));
  EXPECT_TRUE(IsOlderVersion(L"1.1.0.10100", L"1.1.0.1010"));
  EXPECT_TRUE(IsOlderVersion(L"", L"1.1.0.1010"));
}

TEST(IsOlderVersion, OnlyFirstFiveCharactersCompare) {
  EXPECT_FALSE(IsOlderVersion(L"1.1.0.1010", L"1.1.0.1010"));
  EXPECT_FALSE(IsOlderVersion(L"1.1.0.9999", L"1.1.0.1010"));  // differs after the fifth character
  EXPECT_TRUE(IsOlderVersion(L"1.1.1.1010", L"1.1.0.1010"));
  EXPECT_TRUE(IsOlderVersion(L"1.2.0.1010", L"1.1.0.1010"));
  EXPECT_FALSE(IsOlderVersion(L"1.0.9.1010", L"1.1.0.1010"));
  EXPECT_FALSE(IsOlderVersion(L"0.9.9.9999", L"1.1.0.1010"));
}
