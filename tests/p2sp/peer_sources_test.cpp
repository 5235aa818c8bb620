#include "core/peer_sources.h"

#include <gtest/gtest.h>

#include <vector>

namespace p2sp {
namespace {

constexpr uint64_t kPiece = 1u << 20;
const std::string kSha(64, 'a');

std::vector<uint64_t> Indexes(const std::vector<ByteRange>& pieces) {
  std::vector<uint64_t> out;
  for (const ByteRange& r : pieces) out.push_back(r.begin / kPiece);
  return out;
}

// Three peers hold pieces 0..4 of a five-piece file (the last one short).
// A peer is asked for the pieces it holds that are not done, the rarest
// first; the servers for those no peer holds first.
TEST(PeerSources, PiecesGoRarestFirstAndServersTakeWhatNoPeerHolds) {
  SourceBook book("http://link/f", 3);
  PeerSources peers(book);
  const uint64_t size = 4 * kPiece + 100;
  peers.Begin(kSha, size, kPiece, 7);
  peers.Add(PeerAddress{"10.0.0.1", 1}, true);
  peers.Add(PeerAddress{"10.0.0.2", 1}, true);
  peers.Add(PeerAddress{"10.0.0.3", 1}, false);
  ASSERT_EQ(book.Size(), 4u);
  EXPECT_EQ(book[1].mapUrl, "http://10.0.0.1:1/m/" + kSha);
  EXPECT_FALSE(peers.AnyMap());
  RangeSet begun;
  begun.Add(3 * kPiece + 5, 3 * kPiece + 9);
  EXPECT_EQ(Indexes(peers.PiecesForServers(begun)), (std::vector<uint64_t>{3, 0, 1, 2, 4}))
      << "no peer known: a piece begun, then file order";
  book.SetMap(1, PieceMap{size, kPiece, {true, true, true, false, false}});
  book.SetMap(2, PieceMap{size, kPiece, {true, true, false, false, false}});
  book.SetMap(3, PieceMap{size, kPiece, {true, false, false, false, true}});
  EXPECT_TRUE(peers.AnyMap());

  RangeSet done;
  // Holders: piece 0 three, 1 two, 2 one, 3 none, 4 one.
  EXPECT_EQ(Indexes(peers.PiecesFor(1, done)), (std::vector<uint64_t>{2, 1, 0}));
  const std::vector<uint64_t> servers = Indexes(peers.PiecesForServers(done));
  ASSERT_EQ(servers.size(), 5u);
  EXPECT_EQ(servers.front(), 3u);
  EXPECT_EQ(servers.back(), 0u);
  for (const ByteRange& r : peers.PiecesForServers(done)) {
    if (r.begin == 4 * kPiece) {
      EXPECT_EQ(r.end, size) << "the short last piece ends at the file's end";
    }
  }

  done.Add(2 * kPiece, 3 * kPiece);
  EXPECT_EQ(Indexes(peers.PiecesFor(1, done)), (std::vector<uint64_t>{1, 0})) << "done pieces are not asked for";
  book.Drop(1, "test");
  EXPECT_EQ(Indexes(peers.PiecesFor(2, done)), (std::vector<uint64_t>{1, 0}));
  EXPECT_EQ(Indexes(peers.PiecesForServers(done)).front(), 3u);

  peers.End();
  EXPECT_FALSE(book[2].alive) << "without a manifest no peer is used";
  EXPECT_FALSE(peers.AnyMap());
}

}  // namespace
}  // namespace p2sp
