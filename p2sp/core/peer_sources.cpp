#include "peer_sources.h"

#include <algorithm>
#include <random>

#include "trace.h"

namespace p2sp {

namespace {
// A map holds one character per piece.
constexpr size_t kMaxMapBytes = (1u << 20) + 256;
constexpr long kMapTimeoutSeconds = 5;
}  // namespace

void PeerSources::Begin(const std::string& sha256, uint64_t size, uint64_t pieceLength, uint64_t seed) {
  End();
  m_sha256 = sha256;
  m_size = size;
  m_pieceLength = pieceLength;
  const uint64_t count = pieceLength ? (size + pieceLength - 1) / pieceLength : 0;
  std::mt19937 random(static_cast<uint32_t>(seed ^ (seed >> 32)));
  m_tieBreak.resize(count);
  for (auto& t : m_tieBreak) t = random();
}

// May come from inside a transfer's callback, where curl takes no handle
// away: the queries still running end in StartQueries.
void PeerSources::End() {
  for (size_t i = 0; i < m_book.Size(); ++i)
    if (m_book[i].peer) m_book.Drop(i, "the run has no manifest any more");
  m_sha256.clear();
  m_nextMap.clear();
}

void PeerSources::Add(const PeerAddress& peer, bool nearby) {
  if (!Active()) return;
  const std::string url = PeerPieceUrl(peer, m_sha256);
  std::string mapUrl = url;
  mapUrl.replace(mapUrl.rfind("/p/"), 3, "/m/");
  const size_t before = m_book.Size();
  size_t index = 0;
  if (!m_book.AddPeer(url, mapUrl, nearby, kMaxPeers, &index)) return;
  if (m_book.Size() == before) {
    // Back after a drop for now, or a newcomer in a dropped peer's place: a
    // map query still running for that place is of no use any more.
    for (auto it = m_queries.begin(); it != m_queries.end();) {
      if (it->source == index) {
        it->query->Cancel();
        it = m_queries.erase(it);
      } else {
        ++it;
      }
    }
  }
  Debug("peer %s (%s)", url.c_str(), nearby ? "local network" : "seed service");
  m_nextMap[index] = Clock::time_point{};
}

void PeerSources::StartQueries(CURLM* multi, Clock::time_point now, const char* userAgent) {
  if (!Active()) {
    CancelAll();
    return;
  }
  for (auto& due : m_nextMap) {
    const size_t i = due.first;
    if (due.second > now || !m_book[i].alive) continue;
    bool running = false;
    for (const Query& q : m_queries) running |= q.source == i;
    if (running) continue;
    auto query = std::make_unique<SideQuery>(kMaxMapBytes, kMapTimeoutSeconds);
    // Players answer directly, never through a proxy.
    if (!query->Start(multi, m_book[i].mapUrl, std::string(), userAgent, true)) {
      m_book.Drop(i, "its map cannot be asked for");
      continue;
    }
    due.second = now + kMapRefresh;
    m_queries.push_back({i, std::move(query)});
  }
}

bool PeerSources::Owns(CURL* easy) const {
  for (const Query& q : m_queries)
    if (q.query->Owns(easy)) return true;
  return false;
}

void PeerSources::Finish(CURL* easy, CURLcode code, Clock::time_point now) {
  auto it = std::find_if(m_queries.begin(), m_queries.end(), [easy](const Query& q) { return q.query->Owns(easy); });
  if (it == m_queries.end()) return;
  const size_t i = it->source;
  const long status = it->query->Finish(code);
  PieceMap map;
  const bool ok = status == 200 && ParsePieceMap(it->query->Body(), &map);
  m_queries.erase(it);
  if (!Active() || !m_book[i].alive) return;
  if (!ok) {
    if (status == 503) {
      // It serves enough players now: asked again a little later.
      m_book.Busy(i, now + kMapRefresh);
      m_nextMap[i] = now + kMapRefresh;
    } else if (status == 200) {
      m_book.Drop(i, "its map is unreadable");
    } else if (status >= 100 && status < 400) {
      // A player answers its map or an error. A redirect, or any other
      // answer that is neither, ends it for this run: it could send us
      // anywhere.
      m_book.Drop(i, "it answered its map with neither a map nor an error");
    } else {
      m_book.DropForNow(i, "its map cannot be had");
    }
    return;
  }
  if (map.size != m_size || map.pieceLength != m_pieceLength) {
    m_book.Drop(i, "its map is of another file");
    return;
  }
  if (!m_book[i].mapKnown) Debug("map of %s: %zu pieces", m_book[i].url.c_str(), map.verified.size());
  m_book.SetMap(i, map);
  m_nextMap[i] = now + kMapRefresh;
}

void PeerSources::CancelAll() {
  for (Query& q : m_queries) q.query->Cancel();
  m_queries.clear();
}

bool PeerSources::AnyMap() const {
  for (const auto& s : m_book)
    if (s.peer && s.alive && s.mapKnown) return true;
  return false;
}

ByteRange PeerSources::Piece(uint64_t i) const {
  return {i * m_pieceLength, std::min(m_size, (i + 1) * m_pieceLength)};
}

std::vector<ByteRange> PeerSources::Order(const std::vector<uint64_t>& pieces, const RangeSet& done) const {
  const bool peersKnown = AnyMap();
  struct Keyed {
    int holders;
    bool fresh;         // nothing of it is here yet
    uint64_t tieBreak;  // the process's own order once peers are known, else file order
    uint64_t piece;
    bool operator<(const Keyed& o) const {
      if (holders != o.holders) return holders < o.holders;
      if (fresh != o.fresh) return !fresh;
      return tieBreak < o.tieBreak;
    }
  };
  std::vector<Keyed> keyed;
  keyed.reserve(pieces.size());
  for (uint64_t p : pieces) {
    int holders = 0;
    for (const auto& s : m_book)
      if (s.peer && s.alive && s.mapKnown && p < s.map.verified.size() && s.map.verified[p]) ++holders;
    const ByteRange r = Piece(p);
    keyed.push_back({holders, done.CoveredIn(r.begin, r.end) == 0, peersKnown ? m_tieBreak[p] : p, p});
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<ByteRange> out;
  out.reserve(keyed.size());
  for (const auto& k : keyed) out.push_back(Piece(k.piece));
  return out;
}

std::vector<ByteRange> PeerSources::PiecesFor(size_t i, const RangeSet& done) const {
  const auto& s = m_book[i];
  std::vector<uint64_t> pieces;
  for (uint64_t p = 0; p < s.map.verified.size() && p < m_tieBreak.size(); ++p) {
    const ByteRange r = Piece(p);
    if (s.map.verified[p] && !done.Contains(r.begin, r.end)) pieces.push_back(p);
  }
  return Order(pieces, done);
}

std::vector<ByteRange> PeerSources::PiecesForServers(const RangeSet& done) const {
  std::vector<uint64_t> pieces;
  for (uint64_t p = 0; p < m_tieBreak.size(); ++p) {
    const ByteRange r = Piece(p);
    if (!done.Contains(r.begin, r.end)) pieces.push_back(p);
  }
  return Order(pieces, done);
}

}  // namespace p2sp
