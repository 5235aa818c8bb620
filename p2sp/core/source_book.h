#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "piece_server.h"
#include "range_set.h"
#include "source_health.h"

namespace p2sp {

// Every source of one run: the link's server (always the first) and the extra
// sources the seed service or the manifest named. What each is worth, its
// connections, its failures and back-off, the bytes it wrote (the blame when
// a check fails), and the one place where a source is dropped.
class SourceBook {
 public:
  using Clock = SourceHealth::Clock;

  struct Source {
    std::string url;
    bool primary = false;
    bool alive = true;
    bool verified = false;  // served the expected size at least once
    int connections = 0;
    SourceHealth health;
    RangeSet wrote;  // what this run took from it
    // Another player: serves only the pieces of its map, and only once that
    // map has been fetched.
    bool peer = false;
    bool nearby = false;  // heard on the local network
    bool mapKnown = false;
    PieceMap map;
    std::string mapUrl;
    Clock::time_point busyUntil{};  // it turned us away (it serves enough others)
    bool retryable = false;         // dropped before it gave anything: a new hint brings it back
    bool lied = false;              // a piece it gave failed its check
    uint64_t bytes = 0;             // what it gave, checked or not
    int returns = 0;                // times it came back after a drop for now
    // Bytes per second over its connections' last judged window (0: not yet
    // judged): what a free connection of it may expect to get.
    double rate = 0;
  };
  // Connections to one peer at once: a player's upload is capped over all
  // it serves, so more would only take turns from other players.
  static constexpr int kPeerConnections = 2;
  // Peers one run knows, alive or dropped: hints beyond them take the place
  // of a dropped peer that holds nothing of ours, or are ignored, so that a
  // flood of hints costs bounded memory and bounded look-ups.
  static constexpr size_t kMaxPeerEntries = 128;
  // A peer dropped for want of an answer comes back on a later hint this
  // many times at most: hints cannot make us knock at an address forever.
  static constexpr int kMaxReturns = 3;

  SourceBook(const std::string& link, int retries);

  // An extra source; false when it is known already or `maxExtra` are there.
  bool Add(const std::string& url, size_t maxExtra);
  // Another player serving the file at `url` with its map at `mapUrl`; false
  // when known already (unless dropped for now: it comes back, map unknown,
  // kMaxReturns times at most) or `maxPeers` live peers are there. `index`
  // (optional) tells where the peer now is: a new one may take the place of
  // a dropped one. A peer heard on
  // the local network takes the place of a live distant one that has given
  // nothing yet.
  bool AddPeer(const std::string& url, const std::string& mapUrl, bool nearby, size_t maxPeers,
               size_t* index = nullptr);
  size_t LivePeers() const;
  void SetMap(size_t i, const PieceMap& map);
  void Busy(size_t i, Clock::time_point until) { m_sources[i].busyUntil = until; }
  size_t Size() const { return m_sources.size(); }
  const Source& operator[](size_t i) const { return m_sources[i]; }
  std::vector<Source>::const_iterator begin() const { return m_sources.begin(); }
  std::vector<Source>::const_iterator end() const { return m_sources.end(); }

  bool AnyAlive() const;
  bool MayConnect(size_t i, Clock::time_point now) const;
  // The live source furthest below its allowance, skipping those marked in
  // `idle`; a source not yet seen to serve the right size gets one connection
  // to prove itself. -1: none.
  int Pick(int perSource, const std::vector<bool>& idle, Clock::time_point now) const;

  void Connected(size_t i) { ++m_sources[i].connections; }
  void Disconnected(size_t i) { --m_sources[i].connections; }
  void Verified(size_t i) { m_sources[i].verified = true; }
  void SetRate(size_t i, double rate) { m_sources[i].rate = rate; }
  // [begin, end) of the file came from source `i`.
  void Wrote(size_t i, uint64_t begin, uint64_t end, Clock::time_point now);
  // A request sent at `asked` failed; the source goes when its failures say so.
  void Failed(size_t i, Clock::time_point asked, Clock::time_point now);
  void Drop(size_t i, const char* why);
  // Dropped, but only for want of an answer: a later hint may bring it back.
  void DropForNow(size_t i, const char* why);

  // The piece [begin, end) failed its check: what any source wrote there is
  // forgotten and the extra sources that wrote any of it are dropped. True
  // when the link's server wrote some of it; `othersWrote` tells whether an
  // extra source did too.
  bool BlamePiece(uint64_t begin, uint64_t end, bool* othersWrote = nullptr);
  // The bytes that sources which gave a bad piece wrote outside `verified`,
  // each source's set on its own; the book forgets them.
  std::vector<RangeSet> ForgetLiars(const RangeSet& verified);
  // What source `i` wrote outside `verified`; the book forgets it.
  RangeSet ForgetUnproven(size_t i, const RangeSet& verified);
  // The whole-file check failed: the extra sources that wrote anything from
  // `from` on are dropped, and all they wrote is returned, to fetch again.
  RangeSet BlameFrom(uint64_t from);

 private:
  // A place for a new peer: the end of the list, or that of a dropped peer
  // with no connection and nothing of ours on record; -1: the book is full.
  int PlaceForPeer() const;

  int m_retries;
  std::vector<Source> m_sources;
};

}  // namespace p2sp
