#include "core/tail_hasher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/worker.h"
#include "verify/md5.h"

namespace p2sp {
namespace {

constexpr uint64_t kMiB = 1u << 20;

std::string Md5Text(const std::string& data) { return FormatMd5Text(Md5Of(data.data(), data.size())); }

class TailHasherFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "/tail_hasher_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            ".bin";
    ASSERT_TRUE(file_.Open(path_, true));
    ASSERT_TRUE(file_.Truncate(0));
  }
  void TearDown() override {
    file_.Close();
    RemoveFile(path_);
  }
  std::string Data(size_t size, int seed) {
    std::string d(size, '\0');
    for (size_t i = 0; i < size; ++i) d[i] = static_cast<char>((i * 2654435761u >> 7) + seed);
    return d;
  }
  std::string path_;
  RandomFile file_;
};

// Bytes arrive out of order, as from several connections; the hasher may only
// ever read what the owner has declared final.
TEST_F(TailHasherFile, HashesThePartAsItsPrefixGrows) {
  const uint64_t size = 5 * kMiB + 777, begin = kMiB + 3;
  std::string data = Data(size, 1);
  TailHasher hasher(file_);
  hasher.Restart(begin, size);
  EXPECT_TRUE(hasher.Active(begin, size));
  EXPECT_FALSE(hasher.Active(begin - 1, size));
  // The upper half first, then the lower one in small steps.
  const uint64_t mid = 3 * kMiB;
  ASSERT_TRUE(file_.WriteAt(mid, data.data() + mid, size - mid));
  for (uint64_t pos = 0; pos < mid; pos += 300000) {
    uint64_t n = std::min<uint64_t>(300000, mid - pos);
    ASSERT_TRUE(file_.WriteAt(pos, data.data() + pos, n));
    hasher.Allow(pos + n);
  }
  bool ok = false;
  EXPECT_EQ(hasher.Finish(&ok), Md5Text(data.substr(begin)));
  EXPECT_TRUE(ok);
}

TEST_F(TailHasherFile, ARestartForgetsBytesThatChanged) {
  const uint64_t size = 3 * kMiB;
  std::string bad = Data(size, 1), good = Data(size, 2);
  ASSERT_TRUE(file_.WriteAt(0, bad.data(), size));
  TailHasher hasher(file_);
  hasher.Restart(0, size);
  hasher.Allow(size);
  bool ok = false;
  EXPECT_EQ(hasher.Finish(&ok), Md5Text(bad));
  // Fetched again: the old hash must not survive, even half way.
  ASSERT_TRUE(file_.WriteAt(0, good.data(), size));
  hasher.Restart(0, size);
  hasher.Allow(kMiB);
  hasher.Restart(0, size);
  EXPECT_EQ(hasher.Finish(&ok), Md5Text(good));
  EXPECT_TRUE(ok);
}

TEST_F(TailHasherFile, FailsWhenThePartCannotBeReadOrWasNeverStarted) {
  std::string data = Data(1000, 3);
  ASSERT_TRUE(file_.WriteAt(0, data.data(), data.size()));
  TailHasher hasher(file_);
  bool ok = true;
  EXPECT_EQ(hasher.Finish(&ok), "");
  EXPECT_FALSE(ok);
  hasher.Restart(500, 2000);  // past the end of the file
  EXPECT_EQ(hasher.Finish(&ok), "");
  EXPECT_FALSE(ok);
  hasher.Restart(10, 10);  // an empty part has the digest of nothing
  EXPECT_EQ(hasher.Finish(&ok), Md5Text(""));
  EXPECT_TRUE(ok);
  hasher.Stop();
  EXPECT_FALSE(hasher.Active(10, 10));
  EXPECT_EQ(hasher.Finish(&ok), "");
  EXPECT_FALSE(ok);
}

TEST(Worker, RunsJobsInOrderAndFinishesThemBeforeItGoes) {
  std::vector<int> order;
  std::atomic<int> last{0};
  {
    Worker w;
    EXPECT_TRUE(w.Idle());
    for (int i = 1; i <= 50; ++i) w.Post([&order, i] { order.push_back(i); });
    w.Wait();
    EXPECT_TRUE(w.Idle());
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i + 1);
    // Left in the queue when the worker is destroyed: still run.
    for (int i = 1; i <= 20; ++i) w.Post([&last, i] { last = i; });
  }
  EXPECT_EQ(last, 20);
}

}  // namespace
}  // namespace p2sp
