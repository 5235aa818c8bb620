#include "download/speed_cap_choice.h"

#include <gtest/gtest.h>

#include <vector>

#include "download/full_screen_watch.h"
#include "download_fakes.h"

namespace {

class CapEngine : public FakeEngine {
 public:
  std::vector<uint32_t> told;
  void SetSpeedCap(uint32_t bytesPerSecond) override { told.push_back(bytesPerSecond); }
};

constexpr uint32_t KiB = 1024, MiB = 1024 * 1024;

TEST(SpeedCapChoice, ThePlayersCapIsRememberedAndAppliedAtOnce) {
  struct Case {
    const wchar_t* stored;  // null: no key yet
    size_t chosenAfterApply;
    size_t choose;
    std::vector<uint32_t> told;
    const wchar_t* storedAfter;
  };
  const Case cases[] = {
      {nullptr, 0, 2, {0, MiB}, L"1048576"},
      {L"5242880", 4, 0, {5 * MiB, 0}, L"0"},
      {L"524288", 1, 1, {512 * KiB}, L"524288"},
      // Not one the menu offers, or not a number: no cap, as the menu shows.
      {L"123", 0, 3, {0, 2 * MiB}, L"2097152"},
      {L"junk", 0, 1, {0, 512 * KiB}, L"524288"},
      {L"-1", 0, 99, {0}, L"-1"},
  };
  for (const Case& c : cases) {
    FakeStore store;
    if (c.stored) store.values[L"SpeedCap"] = c.stored;
    CResumeState resume(store);
    CapEngine engine;
    CSpeedCapChoice choice(resume, engine);
    choice.Apply();
    EXPECT_EQ(choice.ChosenIndex(), c.chosenAfterApply) << (c.stored ? c.stored : L"-");
    choice.Choose(c.choose);
    EXPECT_EQ(engine.told, c.told) << (c.stored ? c.stored : L"-");
    EXPECT_EQ(store.values[L"SpeedCap"], c.storedAfter);
  }
  // The reset of the download state keeps it.
  FakeStore store;
  CResumeState resume(store);
  resume.SaveSpeedCap(MiB);
  resume.ResetResumeFile();
  EXPECT_EQ(resume.LoadSpeedCap(), MiB);
}

// Through the watch, as the window ticks it.
TEST(SpeedCapChoice, TheDownloadStepsAsideWhileAFullScreenProgramRuns) {
  struct Tick {
    uint32_t ms;
    uint64_t speed;
    bool fullScreen;
  };
  struct Case {
    const char* name;
    size_t playerChoice;
    std::vector<Tick> ticks;
    std::vector<uint32_t> told;  // after Apply's
    const wchar_t* stepAside = nullptr;  // the stored choice; null: none yet (on)
  };
  const Case cases[] = {
      {"a tenth of the speed before, then full speed again",
       0,
       {{0, 4 * MiB, false}, {1000, 4 * MiB, false}, {2000, 0, true}, {3000, 0, true}, {4000, 100, false}},
       {4 * MiB / 10, 0}},
      {"never below 128 KB/s",
       0,
       {{0, 300 * KiB, false}, {1000, 0, true}, {2000, 50 * KiB, false}},
       {128 * KiB, 0}},
      {"the player's lower cap holds throughout",
       1,
       {{0, 10 * MiB, false}, {1000, 0, true}, {2000, 0, false}},
       {}},
      {"the lower of the two, then the player's again",
       3,
       {{0, 2 * MiB, false}, {1000, 2 * MiB, false}, {2000, 0, true}, {3000, 0, false}},
       {2 * MiB / 10, 2 * MiB}},
      {"the test runs at most once a second",
       0,
       {{0, 4 * MiB, false}, {500, 0, true}, {999, 0, true}, {1000, 0, true}},
       {4 * MiB / 10}},
      {"the player turned stepping aside off",
       0,
       {{0, 4 * MiB, false}, {1000, 0, true}, {2000, 0, true}},
       {},
       L"0"},
  };
  for (const Case& c : cases) {
    FakeStore store;
    CResumeState resume(store);
    resume.SaveSpeedCap(kSpeedCapChoices[c.playerChoice]);
    if (c.stepAside) store.values[L"StepAside"] = c.stepAside;
    CapEngine engine;
    CSpeedCapChoice choice(resume, engine);
    choice.Apply();
    engine.told.clear();
    bool fullScreen = false;
    CFullScreenWatch watch([&] { return fullScreen; });
    CStepAsideChoice stepAside(resume);
    for (const Tick& t : c.ticks) {
      fullScreen = t.fullScreen;
      if (watch.OnTick(t.ms)) choice.OnFullScreen(t.speed, stepAside.StepAside(watch.FullScreen()));
    }
    EXPECT_EQ(engine.told, c.told) << c.name;
  }
}

// The menu item: on at first, its change kept in the resume file and over a
// new download's reset.
TEST(SpeedCapChoice, SteppingAsideIsThePlayersChoice) {
  FakeStore store;
  CResumeState resume(store);
  CStepAsideChoice choice(resume);
  EXPECT_TRUE(choice.Checked());
  choice.Toggle();
  EXPECT_FALSE(choice.StepAside(true));
  EXPECT_EQ(store.values[L"StepAside"], L"0");
  resume.ResetResumeFile();
  EXPECT_FALSE(CStepAsideChoice(resume).Checked());
  CStepAsideChoice(resume).Toggle();
  EXPECT_TRUE(CStepAsideChoice(resume).StepAside(true));
}

}  // namespace
