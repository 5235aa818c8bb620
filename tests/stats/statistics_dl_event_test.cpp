#include "stats/statistics_dl_event.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

uint32_t g_now = 0;
uint32_t FakeClock() { return g_now; }

int g_engineAnswer = 1;
int GD_ENGINE_CALL EngineTask(int) { return g_engineAnswer; }

class MapStore : public IResumeStore {
 public:
  bool exists = true;
  std::map<std::wstring, std::wstring> values;
  bool Exists() override { return exists; }
  void Reset() override { values.clear(); }
  std::wstring Read(const wchar_t* key, const wchar_t* defaultValue, size_t, bool* tooLong) override {
    *tooLong = false;
    auto it = values.find(key);
    return it == values.end() ? defaultValue : it->second;
  }
  void Write(const wchar_t* key, const std::wstring& value) override { values[key] = value; }
};

class DownloadTime : public ::testing::Test {
 protected:
  DownloadTime() : state_(store_), manager_(Engine()) {
    g_now = 1000;
    g_engineAnswer = 1;
  }
  // A complete engine whose start and stop answer g_engineAnswer.
  static EngineEntryPoints Engine() {
    EngineEntryPoints e;
    e.Init = [](int) {};
    e.Login = e.StopSeed = e.GetFinishMessage = e.SetConfigInfo = e.UpdateRegInfo = [] { return 0; };
    e.Uninit = [] {};
    e.CreateP2SPTask = [](void*, const wchar_t*, const wchar_t*) { return 1; };
    e.QueryTask = [](int, void*) {};
    e.RemoveTask = [](int) {};
    e.SetP2spOption = [](int, const void*, int) {};
    e.StartTask = &EngineTask;
    e.StopTask = &EngineTask;
    return e;
  }
  MapStore store_;
  CResumeState state_;
  CDownloadManager manager_;
};

TEST_F(DownloadTime, LoadsTheStoredSumRegistersAndStoresItAgain) {
  store_.values[L"DownloadTotalTime"] = L"5000";
  {
    CStatisticsDLEvent listener(state_, manager_, &FakeClock);
    ASSERT_TRUE(manager_.IsLoaded());
    EXPECT_EQ(manager_.GetCallback(), &listener);
    EXPECT_EQ(listener.GetDownloadTotalTime(), 5000u);
    manager_.StartTask(7);
    g_now += 1500;
    manager_.StopTask(7);
    EXPECT_EQ(listener.GetDownloadTotalTime(), 6500u);
  }
  EXPECT_EQ(store_.values[L"DownloadTotalTime"], L"6500");
}

TEST_F(DownloadTime, OnlyAnswersOfExactlyOneCount) {
  CStatisticsDLEvent listener(state_, manager_, &FakeClock);
  for (int answer : {0, 2, -1}) {
    g_engineAnswer = answer;
    manager_.StartTask(1);
    g_now += 100;
    manager_.StopTask(1);
  }
  EXPECT_EQ(listener.GetDownloadTotalTime(), 0u);
  EXPECT_FALSE(listener.IsTiming());
}

TEST_F(DownloadTime, AStopWithoutAStartAddsNothing) {
  CStatisticsDLEvent listener(state_, manager_, &FakeClock);
  g_now = 50000;
  listener.OnTaskStateChanged(1);
  listener.OnTaskStateChanged(7);
  EXPECT_EQ(listener.GetDownloadTotalTime(), 0u);
  listener.OnTaskStateChanged(0);
  g_now += 10;
  listener.OnTaskStateChanged(1);
  listener.OnTaskStateChanged(1);
  EXPECT_EQ(listener.GetDownloadTotalTime(), 10u);
}

TEST_F(DownloadTime, ASecondStartDoesNotLoseTheTimeBeforeIt) {
  CStatisticsDLEvent listener(state_, manager_, &FakeClock);
  listener.OnTaskStateChanged(0);  // companion task
  g_now += 300;
  listener.OnTaskStateChanged(0);  // game task
  g_now += 200;
  listener.OnTaskStateChanged(1);
  EXPECT_EQ(listener.GetDownloadTotalTime(), 500u);
}

TEST_F(DownloadTime, TheClockWrappingDuringATaskCountsTheRealInterval) {
  CStatisticsDLEvent listener(state_, manager_, &FakeClock);
  g_now = 0xFFFFFF00u;
  listener.OnTaskStateChanged(0);
  g_now = 0x100u;  // 512 ms later, past the wrap
  listener.OnTaskStateChanged(1);
  EXPECT_EQ(listener.GetDownloadTotalTime(), 512u);
  // A start at the clock's zero is a real start.
  g_now = 0;
  listener.OnTaskStateChanged(0);
  g_now = 40;
  listener.OnTaskStateChanged(1);
  EXPECT_EQ(listener.GetDownloadTotalTime(), 552u);
}

TEST_F(DownloadTime, WithoutAResumeFileNothingIsLoadedOrStored) {
  store_.exists = false;
  store_.values[L"DownloadTotalTime"] = L"900";
  {
    CStatisticsDLEvent listener(state_, manager_, &FakeClock);
    EXPECT_EQ(listener.GetDownloadTotalTime(), 0u);
    listener.OnTaskStateChanged(0);
    g_now += 5;
    listener.OnTaskStateChanged(1);
  }
  EXPECT_EQ(store_.values[L"DownloadTotalTime"], L"900");
}

}  // namespace
