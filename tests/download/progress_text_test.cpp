#include "download/progress_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "download/download_engine.h"
#include "engine/download_manager.h"

namespace {

TEST(FormatSizeTest, LargestUnitWithNonzeroQuotient) {
  EXPECT_EQ(FormatSize(1610612736ull), L"1.50GB");
  EXPECT_EQ(FormatSize(1572864ull), L"1.50MB");
  EXPECT_EQ(FormatSize(1536), L"1.50KB");
  EXPECT_EQ(FormatSize(500), L"500.00B");
  EXPECT_EQ(FormatSize(1023), L"1023.00B");
  EXPECT_EQ(FormatSize(1024), L"1.00KB");
  EXPECT_EQ(FormatSize(0), L"0.00B");
  EXPECT_EQ(FormatSize(5ull << 40), L"5120.00GB") << "no unit above GB";
}

TEST(FormatSizeTest, QuotientHeldInSinglePrecision) {
  // 16777217 GiB: a double keeps the last unit, a float does not.
  EXPECT_EQ(FormatSize(18014399583223808ull), L"16777216.00GB");
  EXPECT_EQ(FormatSize(18014399046352896ull), L"16777216.00GB");
}

TEST(SizesTextTest, ZeroOfZero) {
  EXPECT_EQ(SizesText(0, 0), L"0.00B/0.00B");
  EXPECT_EQ(ProgressPercent(0, 0), 0);
}

TEST(ProgressPercentTest, IntegerPercentOfTotal) {
  EXPECT_EQ(ProgressPercent(1, 3), 33);
  EXPECT_EQ(ProgressPercent(999, 1000), 99);
  EXPECT_EQ(ProgressPercent(1000, 1000), 100);
  EXPECT_EQ(ProgressPercent(1500, 1000), 100);
  EXPECT_EQ(ProgressPercent(5, 0), 0);
  EXPECT_EQ(ProgressPercent(UINT64_MAX / 2, UINT64_MAX), 49);
}

TEST(SpeedTextTest, KilobytesWithOneDecimal) {
  EXPECT_EQ(SpeedText(0), L"速度：0.0KB/s");
  EXPECT_EQ(SpeedText(1536), L"速度：1.5KB/s");
  EXPECT_EQ(SpeedText(10485760), L"速度：10240.0KB/s");
}

// An engine whose one task reports fixed values at the record's offsets.
void GD_ENGINE_CALL FillRecord(int taskId, void* record) {
  unsigned char* bytes = static_cast<unsigned char*>(record);
  const uint64_t total = 0x0000000123456789ull;
  const uint64_t done = 0x00000000ABCDEF01ull + static_cast<uint64_t>(taskId);
  const uint32_t speed1 = 70000;
  const uint32_t speed2 = 0x80000000u;
  std::memcpy(bytes + engine_contract::kTotalOffset, &total, 8);
  std::memcpy(bytes + engine_contract::kDoneOffset, &done, 8);
  std::memcpy(bytes + engine_contract::kLinkSpeedOffset, &speed1, 4);
  std::memcpy(bytes + engine_contract::kOtherSpeedOffset, &speed2, 4);
  bytes[kTaskStatusStateOffset] = 6;
  bytes[kTaskStatusStateOffset - 1] = 0xff;  // neighbours are the engine's
  bytes[kTaskStatusStateOffset + 1] = 0xff;
}
void GD_ENGINE_CALL NoOp() {}
int GD_ENGINE_CALL Unused() { return 0; }
void GD_ENGINE_CALL NoInit(int) {}
int GD_ENGINE_CALL Create(void*, const wchar_t*, const wchar_t*) { return 7; }
int GD_ENGINE_CALL One(int) { return 1; }
void GD_ENGINE_CALL Remove(int) {}
void GD_ENGINE_CALL Option(int, const void*, int) {}

TEST(ManagerEngineTest, ReadsTheRecordFieldsThroughTheManager) {
  EngineEntryPoints entry;
  entry.Init = NoInit;
  entry.Login = entry.StopSeed = entry.GetFinishMessage = entry.SetConfigInfo = entry.UpdateRegInfo = Unused;
  entry.Uninit = NoOp;
  entry.CreateP2SPTask = Create;
  entry.QueryTask = FillRecord;
  entry.StartTask = entry.StopTask = One;
  entry.RemoveTask = Remove;
  entry.SetP2spOption = Option;
  CDownloadManager manager(entry);
  CManagerEngine engine(manager);
  ASSERT_TRUE(engine.IsLoaded());
  EXPECT_EQ(engine.CreateP2SPTask(nullptr, L"u", L"p"), 7);
  const TaskStatus status = engine.QueryTask(7);
  EXPECT_EQ(status.total, 0x0000000123456789ull);
  EXPECT_EQ(status.done, 0x00000000ABCDEF08ull);
  EXPECT_EQ(status.Speed(), 70000ull + 0x80000000ull) << "the sum does not wrap at 32 bits";
  EXPECT_EQ(status.state, 6);
}

TEST(ManagerEngineTest, UnloadedEngineReadsAsFailedTask) {
  CDownloadManager manager{EngineEntryPoints()};
  CManagerEngine engine(manager);
  EXPECT_FALSE(engine.IsLoaded());
  EXPECT_EQ(engine.QueryTask(1).state, kTaskStateFailedDownload);
}

}  // namespace
