#include "config/first_item.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace {

GameFileEntry Entry(uint64_t size, const std::wstring& link) {
  GameFileEntry e;
  e.size = size;
  e.downloadLink = link;
  return e;
}

const std::wstring kKey = L"{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}";

}  // namespace

TEST(FirstDownloadItem, UsableNeedsNameSizeLinkAndKey) {
  EXPECT_TRUE(IsUsableDownloadItem(Entry(1, L"http://h/g/setup.exe"), kKey));
  EXPECT_TRUE(IsUsableDownloadItem(Entry(1, L"setup.exe"), kKey)) << "a link without / is its own file name";
  EXPECT_FALSE(IsUsableDownloadItem(Entry(1, L"http://h/g/"), kKey));
  EXPECT_FALSE(IsUsableDownloadItem(Entry(0, L"http://h/g/setup.exe"), kKey));
  EXPECT_FALSE(IsUsableDownloadItem(Entry(1, L""), kKey));
  EXPECT_FALSE(IsUsableDownloadItem(Entry(1, L"http://h/g/setup.exe"), L""));
}

TEST(FirstDownloadItem, OnlyTheFrontCountsAndAnEmptyQueueIsNotUsable) {
  std::deque<GameFileEntry> pending = {Entry(5, L"http://h/a.bin"), Entry(0, L"")};
  EXPECT_TRUE(IsFirstDownloadItemUsable(pending, kKey));
  pending.pop_front();
  EXPECT_FALSE(IsFirstDownloadItemUsable(pending, kKey));
  EXPECT_FALSE(IsFirstDownloadItemUsable(std::vector<GameFileEntry>(), kKey));
}
