// The pieces of one run under a manifest: their checks and what a failed one
// blames, and the verified pieces shared with other players.

#include "session.h"

#include <random>
#include <vector>

#include "trace.h"

namespace p2sp {

void Session::BeginSharing() {
  if (!m_hub || !m_manifest) return;
  m_peers.Begin(m_manifest->sha256, m_manifest->size, m_manifest->pieceLength, std::random_device()());
  m_sharedSha = m_manifest->sha256;
  // What the connections have not asked for yet is handed out anew.
  m_pieceOrder = true;
  m_sched.TrimLeases();
  m_hub->Want(m_sharedSha, true);
  auto shared = std::make_shared<SharedDiskFile>(m_manifest->size, m_manifest->pieceLength);
  if (!shared->Open(m_sidePath)) return;
  shared->SetVerified(m_pieces.Verified());
  m_sharedVerified = m_pieces.Verified().Covered();
  m_shared = shared;
  m_hub->Offer(m_sharedSha, m_shared);
}

// The verified pieces grow in the map others see; players heard nearby
// become sources.
void Session::UpdateSharing(Clock::time_point now) {
  if (m_shared && m_pieces.Verified().Covered() != m_sharedVerified) {
    m_shared->SetVerified(m_pieces.Verified());
    m_sharedVerified = m_pieces.Verified().Covered();
  }
  if (!m_sharedSha.empty())
    for (const PeerAddress& peer : m_hub->TakeHeard(m_sharedSha)) m_peers.Add(peer, true);
  m_peers.StartQueries(m_multi.get(), now, kUserAgent);
}

// `finished`: the target holds the whole file now, every piece verified; it
// is served until the engine stops, through the same open file, so that
// answers under way go on.
void Session::EndSharing(bool finished) {
  if (m_sharedSha.empty()) return;
  if (finished && m_shared && m_manifest) {
    RangeSet all;
    all.Add(0, m_manifest->size);
    m_shared->SetVerified(all);
  } else {
    m_hub->Withdraw(m_sharedSha);
  }
  m_hub->Want(m_sharedSha, false);
  m_shared.reset();
  m_sharedSha.clear();
}

// Pending bytes of an earlier run that no manifest of the same hash will check.
void Session::DropResumePending() {
  if (m_resumePending.Covered() == 0) return;
  Debug("fetching again %llu unchecked bytes of extra sources",
        static_cast<unsigned long long>(m_resumePending.Covered()));
  for (const auto& r : m_resumePending.Ranges()) m_sched.MarkMissing(r.begin, r.end);
  m_resumePending.Clear();
}

void Session::ForgetManifest() {
  EndSharing(false);
  m_peers.End();
  m_pieceOrder = false;
  m_checker.Stop();
  m_wholeHasher.Stop();
  m_pieces.Reset(nullptr);
  m_manifest.reset();
  m_resumeVerified.Clear();
  m_resumePending.Clear();
}

bool Session::PiecesSettled() const {
  if (m_resumePending.Covered() > 0) return false;  // the manifest is still to come
  return m_pieces.AllVerified();
}

void Session::UpdatePieces() {
  if (!m_manifest || m_localError) return;
  for (const PieceChecker::Result& r : m_checker.Take()) {
    if (r.readFailed) {
      m_localError = true;
      return;
    }
    if (m_pieces.Settle(r.index, r.match, m_sched.Forgotten()) == PieceLedger::Outcome::kBad) {
      PieceFailed(r.index);
      if (m_checkFailed) return;
    }
  }
  for (uint64_t i : m_pieces.TakeReady(m_sched.Done(), m_sched.Forgotten())) {
    ByteRange r = m_pieces.Range(i);
    m_checker.Check(i, r.begin, r.end, m_manifest->pieces[i]);
  }
}

// A piece did not match: its bytes go, the extra sources that gave any of them
// are dropped, and the link's server gets one more chance at it. Bytes written
// in an earlier run blame nobody.
void Session::PieceFailed(uint64_t index) {
  const uint64_t b = m_pieces.Range(index).begin, e = m_pieces.Range(index).end;
  bool othersWrote = false;
  const bool linkServed = m_sources.BlamePiece(b, e, &othersWrote);
  // Connections of dropped sources stop now; their leases are free again.
  std::vector<int> doomed;
  for (const auto& c : m_conns)
    if (!m_sources[c.second->source].alive) doomed.push_back(c.first);
  for (int id : doomed) Abort(id);
  m_sched.MarkMissing(b, e);
  // What a source that lied once gave to pieces not verified yet is not
  // waited for: it goes now, and comes from elsewhere.
  if (othersWrote) {
    for (const RangeSet& unproven : m_sources.ForgetLiars(m_pieces.Verified()))
      for (const auto& r : unproven.Ranges()) m_sched.MarkMissing(r.begin, r.end);
  }
  // The link's server is blamed only for a piece it gave alone: a peer's
  // lie must not use up the server's chances.
  if (linkServed && !othersWrote && m_pieces.StrikeLink(index)) {
    Debug("piece %llu failed twice from the link's server", static_cast<unsigned long long>(index));
    m_checkFailed = true;
    return;
  }
  Debug("piece %llu failed%s; fetching it again", static_cast<unsigned long long>(index),
        linkServed ? " from the link's server" : "");
  if (!linkServed) return;
  // Another source should bring it; the link's server only when none is left.
  for (size_t i = 0; i < m_sources.Size(); ++i) {
    const Source& s = m_sources[i];
    if (s.primary || !s.alive || s.peer) continue;
    int id = m_nextId++;
    if (!m_sched.AssignExact(id, {b, e})) break;
    if (!Launch(i, Mode::kRange, {b, e}, id)) {
      if (m_sched.HasLease(id)) m_sched.Release(id);
      break;
    }
    Debug("conn %d fetches piece %llu from %s", id, static_cast<unsigned long long>(index), s.url.c_str());
    break;
  }
}

bool Session::BlameSources(uint64_t checkedFrom) {
  RangeSet again = m_sources.BlameFrom(checkedFrom);
  for (const auto& r : again.Ranges()) m_sched.MarkMissing(r.begin, r.end);
  const bool blamed = again.Count() > 0;
  // Verified pieces are fetched again: none of them is served meanwhile.
  if (blamed) EndSharing(false);
  if (blamed) FlushRecord();
  return blamed;
}

}  // namespace p2sp
