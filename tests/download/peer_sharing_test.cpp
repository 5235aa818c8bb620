#include "download/peer_sharing.h"

#include <gtest/gtest.h>

#include <vector>

#include "download_fakes.h"

namespace {

class SharingEngine : public FakeEngine {
 public:
  std::vector<bool> told;
  void SetPeerSharing(bool on) override { told.push_back(on); }
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

}  // namespace
