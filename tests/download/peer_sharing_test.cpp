#include "download/peer_sharing.h"

#include <gtest/gtest.h>

#include <vector>

#include "download/full_screen_watch.h"
#include "download_fakes.h"

namespace {

class SharingEngine : public FakeEngine {
 public:
  std::vector<bool> told;
  std::vector<bool> paused;
  void SetPeerSharing(bool on) override { told.push_back(on); }
  void SetServePaused(bool on) override { paused.push_back(on); }
};

TEST(PeerSharingChoice, PlayerChoiceIsRememberedAndThePublisherCanForbidIt) {
  struct Case {
    bool publisherAllows;
    const wchar_t* stored;  // null: no key yet
    std::vector<bool> toldAfterApplyAndToggle;
    const wchar_t* storedAfter;
  };
  const Case cases[] = {
      {true, nullptr, {true, false}, L"0"},
      {true, L"0", {false, true}, L"1"},
      {true, L"junk", {true, false}, L"0"},
      // Forbidden by the publisher: never on, the item does nothing, the
      // player's own choice stays as it was.
      {false, nullptr, {false}, nullptr},
      {false, L"1", {false}, L"1"},
  };
  for (const Case& c : cases) {
    FakeStore store;
    if (c.stored) store.values[L"PeerSharing"] = c.stored;
    CResumeState resume(store);
    SharingEngine engine;
    CPeerSharingChoice choice(resume, engine, c.publisherAllows);
    choice.Apply();
    EXPECT_EQ(choice.Enabled(), c.publisherAllows);
    EXPECT_EQ(choice.Checked(), engine.told.front());
    choice.Toggle();
    EXPECT_EQ(engine.told, c.toldAfterApplyAndToggle) << c.publisherAllows << " " << (c.stored ? c.stored : L"-");
    auto it = store.values.find(L"PeerSharing");
    if (c.storedAfter) {
      ASSERT_NE(it, store.values.end());
      EXPECT_EQ(it->second, c.storedAfter);
    } else {
      EXPECT_EQ(it, store.values.end());
    }
  }
}

// Through the watch, as the window ticks them.
TEST(ServePause, TheEngineHearsOfEachChangeAndTheTestRunsAtMostOnceASecond) {
  struct Tick {
    uint32_t ms;
    bool fullScreen;
  };
  struct Case {
    const char* name;
    std::vector<Tick> ticks;
    int asked;
    std::vector<bool> told;
  };
  const Case cases[] = {
      {"nothing full-screen: the engine is left as it started", {{0, false}, {1000, false}, {2000, false}}, 3, {}},
      {"a game starts and ends", {{0, false}, {1000, true}, {2000, true}, {3000, false}}, 4, {true, false}},
      {"already running at the first tick", {{500, true}}, 1, {true}},
      {"ticks in between do not ask", {{0, true}, {100, false}, {999, false}, {1000, false}}, 2, {true, false}},
      {"the clock wraps around",
       {{0xFFFFFE00u, false}, {0xFFFFFF00u, true}, {0x000001F0u, true}, {0x00000300u, true}},
       2,
       {true}},
  };
  for (const Case& c : cases) {
    SharingEngine engine;
    CServePause pause(engine);
    int asked = 0;
    bool fullScreen = false;
    CFullScreenWatch watch([&] {
      ++asked;
      return fullScreen;
    });
    for (const Tick& t : c.ticks) {
      fullScreen = t.fullScreen;
      if (watch.OnTick(t.ms)) pause.OnFullScreen(watch.FullScreen());
    }
    EXPECT_EQ(asked, c.asked) << c.name;
    EXPECT_EQ(engine.paused, c.told) << c.name;
    EXPECT_EQ(pause.Paused(), !c.told.empty() && c.told.back()) << c.name;
  }
}

}  // namespace
