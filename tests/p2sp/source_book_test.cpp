#include "core/source_book.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace p2sp {
namespace {

using Clock = SourceBook::Clock;
using std::chrono::milliseconds;
constexpr uint64_t kMiB = 1u << 20;

TEST(SourceBook, AddsEachExtraSourceOnceUpToTheCap) {
  SourceBook book("http://link/f", 3);
  EXPECT_FALSE(book.Add("http://link/f", 4));  // the link itself
  EXPECT_TRUE(book.Add("http://a/f", 2));
  EXPECT_FALSE(book.Add("http://a/f", 2));
  EXPECT_TRUE(book.Add("http://b/f", 2));
  EXPECT_FALSE(book.Add("http://c/f", 2));
  ASSERT_EQ(book.Size(), 3u);
  EXPECT_TRUE(book[0].primary);
  EXPECT_FALSE(book[1].primary);
}

TEST(SourceBook, PicksTheLiveSourceFurthestBelowItsAllowance) {
  const Clock::time_point t0 = Clock::now();
  struct Case {
    const char* name;
    std::vector<int> linkAndMirrorConns;  // connections of the link, mirror a, mirror b
    bool aVerified;
    bool aFailed;  // a is in back-off
    std::vector<bool> idle;
    int pick;
  };
  const std::vector<Case> cases = {
      {"link has room", {2, 0, 0}, false, false, {}, 0},
      {"an unproven mirror gets one connection", {8, 0, 0}, false, false, {}, 1},
      {"but only one", {8, 1, 1}, false, false, {}, -1},
      {"a verified mirror gets the full allowance", {6, 1, 1}, true, false, {}, 1},
      {"a source in back-off waits", {8, 0, 1}, true, true, {}, -1},
      {"idle sources are skipped", {2, 0, 0}, true, false, {true, false, false}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SourceBook book("http://link/f", 3);
    book.Add("http://a/f", 4);
    book.Add("http://b/f", 4);
    for (size_t i = 0; i < 3; ++i)
      for (int n = 0; n < c.linkAndMirrorConns[i]; ++n) book.Connected(i);
    if (c.aVerified) book.Verified(1);
    if (c.aFailed) book.Failed(1, t0, t0);
    EXPECT_EQ(book.Pick(8, c.idle, t0 + milliseconds(1)), c.pick);
  }
}

TEST(SourceBook, BlameDropsOnlyExtraSourcesThatWroteThere) {
  const Clock::time_point t0 = Clock::now();
  SourceBook book("http://link/f", 3);
  book.Add("http://a/f", 4);
  book.Add("http://b/f", 4);
  book.Wrote(0, 0, 4 * kMiB, t0);
  book.Wrote(1, 4 * kMiB, 8 * kMiB, t0);
  book.Wrote(2, 8 * kMiB, 12 * kMiB, t0);
  // A piece of the link's bytes: nobody is dropped, the link's bytes there are forgotten.
  EXPECT_TRUE(book.BlamePiece(kMiB, 2 * kMiB));
  EXPECT_TRUE(book[1].alive && book[2].alive);
  EXPECT_EQ(book[0].wrote.Covered(), 3 * kMiB);
  // A piece across the link and mirror a: a goes, and what it wrote to
  // pieces not verified yet is not waited for.
  bool othersWrote = false;
  EXPECT_TRUE(book.BlamePiece(3 * kMiB, 5 * kMiB, &othersWrote));
  EXPECT_TRUE(othersWrote);
  EXPECT_FALSE(book[1].alive);
  EXPECT_TRUE(book[2].alive);
  RangeSet verified;
  verified.Add(5 * kMiB, 6 * kMiB);
  const std::vector<RangeSet> liars = book.ForgetLiars(verified);
  ASSERT_EQ(liars.size(), 1u) << "only the source that gave a bad piece";
  EXPECT_EQ(liars[0].Covered(), 2 * kMiB);
  EXPECT_TRUE(liars[0].Contains(6 * kMiB, 8 * kMiB));
  EXPECT_EQ(book[1].wrote.Covered(), kMiB) << "its verified bytes stay its own";
  // The whole file failed from 10 MiB on: b goes, and all it wrote comes back.
  RangeSet again = book.BlameFrom(10 * kMiB);
  EXPECT_FALSE(book[2].alive);
  EXPECT_EQ(again.Covered(), 4 * kMiB);
  EXPECT_TRUE(again.Contains(8 * kMiB, 12 * kMiB));
  EXPECT_TRUE(book[0].alive);
  EXPECT_TRUE(book.AnyAlive());
}

TEST(SourceBook, ASourceFailingEveryRoundIsDropped) {
  Clock::time_point now = Clock::now();
  SourceBook book("http://link/f", 2);
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(book[0].alive) << "round " << round;
    book.Failed(0, now, now + milliseconds(1));
    now = book[0].health.NextTry();
    EXPECT_FALSE(book.MayConnect(0, now - milliseconds(1)));
  }
  EXPECT_FALSE(book[0].alive);
  EXPECT_FALSE(book.AnyAlive());
}

}  // namespace

// Peers: capped, used only once their map is in, a nearby one taking the
// place of a distant one that gave nothing, at most two connections each, and
// never what keeps a download alive on their own.
TEST(SourceBook, PeersWaitForTheirMapAndNearbyOnesTakeTheirPlace) {
  const Clock::time_point now = Clock::now();
  SourceBook book("http://link/f", 3);
  ASSERT_TRUE(book.AddPeer("http://10.0.0.2:1/p/x", "http://10.0.0.2:1/m/x", false, 2));
  ASSERT_TRUE(book.AddPeer("http://10.0.0.3:1/p/x", "http://10.0.0.3:1/m/x", false, 2));
  EXPECT_FALSE(book.AddPeer("http://10.0.0.2:1/p/x", "m", true, 2)) << "known already";
  EXPECT_FALSE(book.AddPeer("http://10.0.0.4:1/p/x", "m", false, 2)) << "cap reached";
  book.Wrote(1, 0, kMiB, now);  // the first distant peer has given something
  ASSERT_TRUE(book.AddPeer("http://192.168.1.5:1/p/x", "m", true, 2));
  EXPECT_TRUE(book[1].alive);
  EXPECT_FALSE(book[2].alive) << "the distant peer that gave nothing made room";
  EXPECT_EQ(book.LivePeers(), 2u);

  EXPECT_FALSE(book.MayConnect(3, now)) << "no map yet";
  book.SetMap(3, PieceMap{4 * kMiB, kMiB, {true, false, true, true}});
  EXPECT_TRUE(book.MayConnect(3, now));
  book.Busy(3, now + milliseconds(2000));
  EXPECT_FALSE(book.MayConnect(3, now + milliseconds(1999)));
  EXPECT_TRUE(book.MayConnect(3, now + milliseconds(2000)));

  std::vector<bool> idle(book.Size(), false);
  idle[0] = true;
  for (int i = 0; i < 3; ++i) {
    int pick = book.Pick(16, idle, now + milliseconds(2000));
    if (pick < 0) break;
    book.Connected(static_cast<size_t>(pick));
  }
  EXPECT_EQ(book[3].connections, SourceBook::kPeerConnections);
  book.Drop(0, "test");
  EXPECT_FALSE(book.AnyAlive()) << "peers alone do not keep a download waiting";

  // Dropped for want of an answer, a peer comes back on the next hint, its
  // map to be fetched again; one dropped for anything else does not.
  book.DropForNow(3, "no map");
  ASSERT_TRUE(book.AddPeer("http://192.168.1.5:1/p/x", "m", true, 2));
  EXPECT_EQ(book.Size(), 4u);
  EXPECT_TRUE(book[3].alive);
  EXPECT_FALSE(book.MayConnect(3, now + milliseconds(2000))) << "its map is fetched again first";
  book.Drop(3, "lied");
  EXPECT_FALSE(book.AddPeer("http://192.168.1.5:1/p/x", "m", true, 2));
  book.DropForNow(1, "no map");
  EXPECT_FALSE(book.AddPeer("http://10.0.0.2:1/p/x", "m", true, 2)) << "it gave bytes before: no second chance";
}

// Hints cannot grow the book or bring a peer back forever: dropped peers that
// hold nothing of ours make room for new ones, and one dropped for want of an
// answer returns a few times at most.
TEST(SourceBook, PeerHintsCostBoundedRoom) {
  SourceBook book("http://link/f", 3);
  auto url = [](size_t i) { return "http://10.0.0.1:" + std::to_string(1024 + i) + "/p/x"; };
  for (size_t i = 0; i < SourceBook::kMaxPeerEntries; ++i) {
    size_t at = 0;
    ASSERT_TRUE(book.AddPeer(url(i), "m", false, 1000, &at));
    book.Drop(at, "test");
  }
  book.Wrote(1, 0, kMiB, Clock::now());  // the first peer's bytes are on record
  size_t at = 0;
  ASSERT_TRUE(book.AddPeer(url(1000), "m", false, 1000, &at));
  EXPECT_EQ(book.Size(), 1 + SourceBook::kMaxPeerEntries);
  EXPECT_EQ(at, 2u) << "the first dropped peer without bytes on record makes room";
  EXPECT_EQ(book[at].url, url(1000));
  EXPECT_TRUE(book[at].alive);
  for (int i = 0; i < SourceBook::kMaxReturns; ++i) {
    book.DropForNow(at, "no map");
    ASSERT_TRUE(book.AddPeer(url(1000), "m", false, 1000)) << i;
  }
  book.DropForNow(at, "no map");
  EXPECT_FALSE(book.AddPeer(url(1000), "m", false, 1000)) << "back too often";
}

}  // namespace p2sp
