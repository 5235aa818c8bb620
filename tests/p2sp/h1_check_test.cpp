#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/download_task.h"
#include "core/engine.h"
#include "core/file_io.h"
#include "verify/md5.h"

namespace p2sp {
namespace {

std::string Md5Text(const std::string& data) { return FormatMd5Text(Md5Of(data.data(), data.size())); }

class H1File : public ::testing::Test {
 protected:
  std::string Write(uint64_t size) {
    // ctest runs each case as its own process, side by side: one file per case.
    path_ = ::testing::TempDir() + "/h1_check_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            ".bin";
    RandomFile f;
    EXPECT_TRUE(f.Open(path_, true));
    EXPECT_TRUE(f.Truncate(0));
    std::vector<char> block(1 << 20);
    for (uint64_t pos = 0; pos < size;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), size - pos));
      for (size_t i = 0; i < n; ++i) block[i] = static_cast<char>((pos + i) * 131 >> 3);
      EXPECT_TRUE(f.WriteAt(pos, block.data(), n));
      pos += n;
    }
    return path_;
  }
  void TearDown() override { RemoveFile(path_); }
  std::string path_;
};

TEST_F(H1File, AtTheLimitTheWholeFileAboveItOnlyTheTail) {
  std::string path = Write(kH1TailBytes + 1);
  bool ok = false;
  // Exactly the limit: everything. One byte more: without the first byte.
  std::string whole = ComputeH1Text(path, kH1TailBytes, &ok);
  ASSERT_TRUE(ok);
  std::string tail = ComputeH1Text(path, kH1TailBytes + 1, &ok);
  ASSERT_TRUE(ok);
  std::string data(kH1TailBytes + 1, '\0');
  RandomFile f;
  ASSERT_TRUE(f.Open(path, false));
  ASSERT_TRUE(f.ReadAt(0, data.data(), data.size()));
  EXPECT_EQ(whole, Md5Text(data.substr(0, kH1TailBytes)));
  EXPECT_EQ(tail, Md5Text(data.substr(1)));
}

TEST_F(H1File, ReadingPastTheEndFails) {
  std::string path = Write(100);
  bool ok = true;
  ComputeH1Text(path, 200, &ok);
  EXPECT_FALSE(ok);
  ComputeH1Text(path + ".missing", 10, &ok);
  EXPECT_FALSE(ok);
}

TEST(StatusRecord, FieldsSitAtTheirOffsetsLittleEndian) {
  TaskStatus s;
  s.total = 0x0102030405060708ull;
  s.done = 0x1112131415161718ull;
  s.linkSpeed = 0xA1A2A3A4u;
  s.otherSpeed = 0xB1B2B3B4u;
  s.state = kTaskStateFailedCheck;
  std::vector<uint8_t> record(kStatusRecordSize, 0);
  engine_contract::EncodeStatus(s, record.data());
  EXPECT_EQ(record[8], 0x08);
  EXPECT_EQ(record[15], 0x01);
  EXPECT_EQ(record[16], 0x18);
  EXPECT_EQ(record[23], 0x11);
  EXPECT_EQ(record[60], 0xA4);
  EXPECT_EQ(record[63], 0xA1);
  EXPECT_EQ(record[64], 0xB4);
  EXPECT_EQ(record[67], 0xB1);
  EXPECT_EQ(record[69], 6);
  int nonzero = 0;
  for (uint8_t b : record) nonzero += b != 0;
  EXPECT_EQ(nonzero, 8 + 8 + 4 + 4 + 1);  // nothing else touched
}

TEST(Engine, UnusableLinksFailAtOnceWithStateFive) {
  Engine engine;
  engine.Init();
  int bad = engine.CreateTask("ftp://nowhere/x", ::testing::TempDir() + "/never.bin");
  int empty = engine.CreateTask("http://127.0.0.1:9/x", "");
  ASSERT_GT(bad, 0);
  ASSERT_GT(empty, bad);
  EXPECT_EQ(engine.StartTask(bad), 1);
  EXPECT_EQ(engine.StartTask(empty), 1);
  TaskProgress s;
  for (int id : {bad, empty}) {
    for (int i = 0; i < 500 && (!engine.QueryTask(id, &s) || s.active); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(s.active);
    EXPECT_EQ(s.state, kTaskStateFailedDownload) << id;
  }
  engine.Uninit();
  EXPECT_FALSE(FileExists(::testing::TempDir() + "/never.bin.P2P"));
  EXPECT_FALSE(engine.QueryTask(999, &s));
  EXPECT_EQ(engine.StartTask(999), 0);
  EXPECT_EQ(engine.StopTask(999), 0);
}

TEST(Engine, SeedOptionIsUtf16WithoutTerminator) {
  Engine engine;
  const char16_t text[] = u"http://seed/\u4E0B?x=1";
  engine.SetOption(kOptionSeedUrl, text, static_cast<int>((sizeof text / 2 - 1) * 2));
  EXPECT_EQ(engine.Options().seedUrl, "http://seed/\xE4\xB8\x8B?x=1");
  int32_t n = 40;
  engine.SetOption(kOptionMaxConnections, &n, 4);
  EXPECT_EQ(engine.Options().maxConnections, 16);
  engine.SetOption(kOptionMaxConnections, nullptr, 4);  // ignored, not a crash
  engine.SetOption(77, &n, 4);
  EXPECT_EQ(engine.Options().maxConnections, 16);
}

}  // namespace
}  // namespace p2sp
