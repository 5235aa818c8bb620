#include "engine/download_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A scripted engine: records calls and answers what the test sets.
struct FakeEngine {
  static std::vector<std::string> calls;
  static int startAnswer;
  static int stopAnswer;
  static int createAnswer;
  static std::u16string seed;

  static void Init(int v) { calls.push_back("Init " + std::to_string(v)); }
  static void Uninit() { calls.push_back("Uninit"); }
  static int Create(void*, const wchar_t*, const wchar_t*) {
    calls.push_back("Create");
    return createAnswer;
  }
  static void Query(int id, void* record) {
    calls.push_back("Query " + std::to_string(id));
    static_cast<uint8_t*>(record)[kTaskStatusStateOffset] = 1;
  }
  static int Start(int id) {
    calls.push_back("Start " + std::to_string(id));
    return startAnswer;
  }
  static int Stop(int id) {
    calls.push_back("Stop " + std::to_string(id));
    return stopAnswer;
  }
  static void Remove(int id) { calls.push_back("Remove " + std::to_string(id)); }
  static void Option(int option, const void* value, int bytes) {
    calls.push_back("Option " + std::to_string(option) + " " + std::to_string(bytes));
    seed.assign(static_cast<const char16_t*>(value), static_cast<size_t>(bytes) / 2);
  }
  static int Unused() {
    calls.push_back("unused");
    return 0;
  }

  static EngineEntryPoints All() {
    EngineEntryPoints e;
    e.Init = Init;
    e.Login = Unused;
    e.Uninit = Uninit;
    e.CreateP2SPTask = Create;
    e.QueryTask = Query;
    e.StopSeed = Unused;
    e.GetFinishMessage = Unused;
    e.RemoveTask = Remove;
    e.SetConfigInfo = Unused;
    e.UpdateRegInfo = Unused;
    e.SetP2spOption = Option;
    e.StartTask = Start;
    e.StopTask = Stop;
    return e;
  }
};
std::vector<std::string> FakeEngine::calls;
int FakeEngine::startAnswer = 1;
int FakeEngine::stopAnswer = 1;
int FakeEngine::createAnswer = 7;
std::u16string FakeEngine::seed;

class Listener : public CDownloadManager::ICDownloadManagerCallback {
 public:
  void OnTaskStateChanged(int state) override { states.push_back(state); }
  std::vector<int> states;
};

void ClearSlot(EngineEntryPoints& e, int slot) {
  switch (slot) {
    case 0:
      e.Init = nullptr;
      break;
    case 1:
      e.Login = nullptr;
      break;
    case 2:
      e.Uninit = nullptr;
      break;
    case 3:
      e.CreateP2SPTask = nullptr;
      break;
    case 4:
      e.QueryTask = nullptr;
      break;
    case 5:
      e.StopSeed = nullptr;
      break;
    case 6:
      e.GetFinishMessage = nullptr;
      break;
    case 7:
      e.RemoveTask = nullptr;
      break;
    case 8:
      e.SetConfigInfo = nullptr;
      break;
    case 9:
      e.UpdateRegInfo = nullptr;
      break;
    case 10:
      e.SetP2spOption = nullptr;
      break;
    case 11:
      e.StartTask = nullptr;
      break;
    default:
      e.StopTask = nullptr;
      break;
  }
}

class DownloadManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeEngine::calls.clear();
    FakeEngine::startAnswer = 1;
    FakeEngine::stopAnswer = 1;
  }
};

TEST_F(DownloadManagerTest, ListenerHearsOnlyStartsAndStopsThatAnsweredOne) {
  CDownloadManager manager(FakeEngine::All());
  ASSERT_TRUE(manager.IsLoaded());
  Listener listener;
  manager.SetCallback(&listener);
  for (int answer : {1, 0, 2, -1}) {
    FakeEngine::startAnswer = answer;
    FakeEngine::stopAnswer = answer;
    EXPECT_EQ(manager.StartTask(3), answer);
    EXPECT_EQ(manager.StopTask(3), answer);
  }
  EXPECT_EQ(listener.states, (std::vector<int>{0, 1}));
  EXPECT_EQ(FakeEngine::calls.size(), 8u);
}

TEST_F(DownloadManagerTest, WithoutListenerStartAndStopOnlyForward) {
  CDownloadManager manager(FakeEngine::All());
  EXPECT_EQ(manager.StartTask(4), 1);
  EXPECT_EQ(manager.StopTask(4), 1);
  EXPECT_EQ(FakeEngine::calls, (std::vector<std::string>{"Start 4", "Stop 4"}));
}

TEST_F(DownloadManagerTest, ForwardsTheOtherCalls) {
  CDownloadManager manager(FakeEngine::All());
  EXPECT_EQ(manager.Init(0), 1);
  EXPECT_EQ(manager.SetSeedUrl(L"http://s/种子"), 1);
  EXPECT_EQ(FakeEngine::seed, u"http://s/种子");
  EXPECT_EQ(manager.CreateP2SPTask(nullptr, L"u", L"p"), 7);
  uint8_t record[kTaskStatusSize];
  std::memset(record, 0xee, sizeof record);
  EXPECT_EQ(manager.QueryTask(7, record), 1);
  EXPECT_EQ(record[kTaskStatusStateOffset], 1);
  EXPECT_EQ(record[0], 0) << "the record is zeroed before the engine fills it";
  EXPECT_EQ(manager.RemoveTask(7), 1);
  EXPECT_EQ(manager.Uninit(), 1);
  EXPECT_EQ(FakeEngine::calls,
            (std::vector<std::string>{"Init 0", "Option 3 22", "Create", "Query 7", "Remove 7", "Uninit"}));
}

TEST_F(DownloadManagerTest, AnyMissingExportMeansNothingIsCalled) {
  for (int missing = 0; missing < 13; ++missing) {
    EngineEntryPoints e = FakeEngine::All();
    ClearSlot(e, missing);
    CDownloadManager manager(e);
    EXPECT_FALSE(manager.IsLoaded()) << missing;
    Listener listener;
    manager.SetCallback(&listener);
    EXPECT_EQ(manager.Init(0), 0);
    EXPECT_EQ(manager.SetSeedUrl(L"x"), 0);
    EXPECT_EQ(manager.CreateP2SPTask(nullptr, L"u", L"p"), 0);
    EXPECT_EQ(manager.StartTask(1), 0);
    EXPECT_EQ(manager.StopTask(1), 0);
    EXPECT_EQ(manager.RemoveTask(1), 0);
    EXPECT_EQ(manager.Uninit(), 0);
    uint8_t record[kTaskStatusSize];
    std::memset(record, 0xee, sizeof record);
    EXPECT_EQ(manager.QueryTask(1, record), 0);
    EXPECT_EQ(record[kTaskStatusStateOffset], kTaskStateFailedDownload);
    EXPECT_EQ(record[8], 0);
    EXPECT_TRUE(listener.states.empty());
  }
  EXPECT_TRUE(FakeEngine::calls.empty());
}

#if !defined(_WIN32)
TEST_F(DownloadManagerTest, HostInstanceIsAFailedLoad) {
  CDownloadManager& manager = CDownloadManager::Instance();
  EXPECT_EQ(&manager, &CDownloadManager::Instance());
  EXPECT_FALSE(manager.IsLoaded());
  EXPECT_EQ(manager.CreateP2SPTask(nullptr, L"u", L"p"), 0);
}
#endif

}  // namespace

// A character past U+FFFF goes as a pair of UTF-16 units, whatever the width
// of wchar_t, and the length counts both.
TEST_F(DownloadManagerTest, SeedUrlPastTheBasicPlaneGoesAsAPair) {
  CDownloadManager manager(FakeEngine::All());
  EXPECT_EQ(manager.SetSeedUrl(L"http://s/\U0001F331"), 1);
  EXPECT_EQ(FakeEngine::seed, u"http://s/\U0001F331");
  EXPECT_EQ(FakeEngine::calls, (std::vector<std::string>{"Option 3 22"}));
}
