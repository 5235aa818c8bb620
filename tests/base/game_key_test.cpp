#include "base/game_key.h"

#include <gtest/gtest.h>

TEST(GameKeyFromDescription, CutsAfterThirtyEighthCharacter) {
  const std::wstring guid = L"{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}";
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(GameKeyFromDescription(guid), guid);
  EXPECT_EQ(GameKeyFromDescription(guid + L"XY"), guid);
  EXPECT_EQ(GameKeyFromDescription(L"short"), L"short");
  EXPECT_EQ(GameKeyFromDescription(L""), L"");
  EXPECT_EQ(GameKeyFromDescription(std::wstring(L"ab\0cd", 5)), L"ab");
}

TEST(DescriptionQueryPath, LowerCaseHexLanguageFirst) {
  EXPECT_EQ(DescriptionQueryPath(0x0804, 0x04B0), L"\\StringFileInfo\\080404b0\\FileDescription");
  EXPECT_EQ(DescriptionQueryPath(0x0409, 0x04E4), L"\\StringFileInfo\\040904e4\\FileDescription");
}
