#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "links.h"
#include "range_set.h"
#include "side_query.h"
#include "source_book.h"

namespace p2sp {

// The other players of one run: which are known, their piece maps (fetched
// before a peer is used, then refreshed), and in which order pieces are worth
// fetching. Peers live in the run's SourceBook like every source; this keeps
// what only peers have.
class PeerSources {
 public:
  using Clock = SourceBook::Clock;
  // Peer sources open at once, at most.
  static constexpr size_t kMaxPeers = 16;
  static constexpr std::chrono::milliseconds kMapRefresh{2000};

  explicit PeerSources(SourceBook& book) : m_book(book) {}
  ~PeerSources() { CancelAll(); }

  // The file of this run; `seed` varies the order of equally rare pieces
  // from one process to the next, so that players fetch different pieces.
  void Begin(const std::string& sha256, uint64_t size, uint64_t pieceLength, uint64_t seed);
  // No manifest any more: no peer is asked again.
  void End();
  bool Active() const { return !m_sha256.empty(); }
  const std::string& Sha256() const { return m_sha256; }

  void Add(const PeerAddress& peer, bool nearby);
  // Fetches the maps that are due.
  void StartQueries(CURLM* multi, Clock::time_point now, const char* userAgent);
  bool Owns(CURL* easy) const;
  void Finish(CURL* easy, CURLcode code, Clock::time_point now);
  void CancelAll();
  // True once some peer's map is in: from then on pieces are handed out in
  // the order below.
  bool AnyMap() const;

  // Pieces not yet done that source `i` (a peer) holds, rarest among the
  // peers first.
  std::vector<ByteRange> PiecesFor(size_t i, const RangeSet& done) const;
  // Pieces not yet done for the link's server and mirrors: those no peer
  // holds first, then the rarest; in file order while no peer is known.
  std::vector<ByteRange> PiecesForServers(const RangeSet& done) const;

 private:
  struct Query {
    size_t source;
    std::unique_ptr<SideQuery> query;
  };
  // Rarest first; among equals, pieces begun before new ones.
  std::vector<ByteRange> Order(const std::vector<uint64_t>& pieces, const RangeSet& done) const;
  ByteRange Piece(uint64_t i) const;

  SourceBook& m_book;
  std::string m_sha256;
  uint64_t m_size = 0, m_pieceLength = 0;
  std::vector<uint32_t> m_tieBreak;  // per piece
  std::vector<Query> m_queries;
  std::map<size_t, Clock::time_point> m_nextMap;  // source -> when its map is due
};

}  // namespace p2sp
