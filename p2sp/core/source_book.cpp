#include "source_book.h"

#include <algorithm>

#include "trace.h"

namespace p2sp {

SourceBook::SourceBook(const std::string& link, int retries) : m_retries(retries) {
  Source s;
  s.url = link;
  s.primary = true;
  s.health = SourceHealth(retries);
  m_sources.push_back(std::move(s));
}

bool SourceBook::Add(const std::string& url, size_t maxExtra) {
  size_t extra = 0;
  for (const auto& s : m_sources) {
    if (s.url == url) return false;
    extra += !s.primary;
  }
  if (extra >= maxExtra) return false;
  Source s;
  s.health = SourceHealth(m_retries);
  s.url = url;
  m_sources.push_back(std::move(s));
  return true;
}

bool SourceBook::AddPeer(const std::string& url, const std::string& mapUrl, bool nearby, size_t maxPeers,
                         size_t* index) {
  int known = -1;
  for (size_t i = 0; i < m_sources.size(); ++i)
    if (m_sources[i].url == url) known = static_cast<int>(i);
  if (known >= 0 &&
      (m_sources[known].alive || !m_sources[known].retryable || m_sources[known].returns >= kMaxReturns))
    return false;
  const int place = known >= 0 ? known : PlaceForPeer();
  if (place < 0) return false;
  if (LivePeers() >= maxPeers) {
    if (!nearby) return false;
    int distant = -1;
    for (size_t i = 0; i < m_sources.size(); ++i) {
      const Source& s = m_sources[i];
      if (s.peer && s.alive && !s.nearby && s.bytes == 0) distant = static_cast<int>(i);
    }
    if (distant < 0) return false;
    Drop(static_cast<size_t>(distant), "a peer on our own network takes its place");
  }
  if (index) *index = static_cast<size_t>(place);
  if (known >= 0) {
    Source& again = m_sources[known];
    again.alive = true;
    again.retryable = false;
    again.mapKnown = false;
    again.rate = 0;
    ++again.returns;
    again.health = SourceHealth(m_retries);
    Debug("peer %s is back", url.c_str());
    return true;
  }
  Source s;
  s.health = SourceHealth(m_retries);
  s.url = url;
  s.mapUrl = mapUrl;
  s.peer = true;
  s.nearby = nearby;
  if (static_cast<size_t>(place) == m_sources.size())
    m_sources.push_back(std::move(s));
  else
    m_sources[place] = std::move(s);
  return true;
}

int SourceBook::PlaceForPeer() const {
  size_t peers = 0;
  int dropped = -1;
  for (size_t i = 0; i < m_sources.size(); ++i) {
    const Source& s = m_sources[i];
    if (!s.peer) continue;
    ++peers;
    // One dropped for want of an answer is forgotten first: it could come
    // back anyway, while one dropped for cause would have a second chance.
    if (!s.alive && s.connections == 0 && s.wrote.Count() == 0 &&
        (dropped < 0 || (!m_sources[dropped].retryable && s.retryable)))
      dropped = static_cast<int>(i);
  }
  if (peers < kMaxPeerEntries) return static_cast<int>(m_sources.size());
  return dropped;
}

size_t SourceBook::LivePeers() const {
  size_t n = 0;
  for (const auto& s : m_sources) n += s.peer && s.alive;
  return n;
}

void SourceBook::SetMap(size_t i, const PieceMap& map) {
  m_sources[i].map = map;
  m_sources[i].mapKnown = true;
}

bool SourceBook::AnyAlive() const {
  // Peers come and go and may never hold the missing pieces: alone they do
  // not keep a download waiting.
  for (const auto& s : m_sources)
    if (s.alive && !s.peer) return true;
  return false;
}

bool SourceBook::MayConnect(size_t i, Clock::time_point now) const {
  const Source& s = m_sources[i];
  if (s.peer && (!s.mapKnown || now < s.busyUntil)) return false;
  return s.alive && now >= s.health.NextTry();
}

int SourceBook::Pick(int perSource, const std::vector<bool>& idle, Clock::time_point now) const {
  int pick = -1;
  int pickRoom = 0;
  for (size_t i = 0; i < m_sources.size(); ++i) {
    const Source& s = m_sources[i];
    if ((i < idle.size() && idle[i]) || !MayConnect(i, now)) continue;
    int allowance = (s.primary || s.verified) ? perSource : 1;
    if (s.peer) allowance = std::min(perSource, kPeerConnections);
    int room = allowance - s.connections;
    if (room > pickRoom) {
      pick = static_cast<int>(i);
      pickRoom = room;
    }
  }
  return pick;
}

void SourceBook::Wrote(size_t i, uint64_t begin, uint64_t end, Clock::time_point now) {
  m_sources[i].wrote.Add(begin, end);
  m_sources[i].bytes += end - begin;
  m_sources[i].health.Gained(now);
}

void SourceBook::Failed(size_t i, Clock::time_point asked, Clock::time_point now) {
  if (!m_sources[i].health.Failed(asked, now)) Drop(i, "it kept failing");
}

void SourceBook::DropForNow(size_t i, const char* why) {
  Drop(i, why);
  m_sources[i].retryable = m_sources[i].bytes == 0;
}

void SourceBook::Drop(size_t i, const char* why) {
  Source& s = m_sources[i];
  if (!s.alive) return;
  s.alive = false;
  Debug("dropping %s: %s", s.url.c_str(), why);
}

bool SourceBook::BlamePiece(uint64_t begin, uint64_t end, bool* othersWrote) {
  bool linkServed = false;
  if (othersWrote) *othersWrote = false;
  for (size_t i = 0; i < m_sources.size(); ++i) {
    Source& s = m_sources[i];
    if (s.wrote.CoveredIn(begin, end) == 0) continue;
    s.wrote.Remove(begin, end);
    if (s.primary) {
      linkServed = true;
      continue;
    }
    if (othersWrote) *othersWrote = true;
    s.lied = true;
    Drop(i, "a piece it gave failed its check");
  }
  return linkServed;
}

std::vector<RangeSet> SourceBook::ForgetLiars(const RangeSet& verified) {
  std::vector<RangeSet> out;
  for (size_t i = 0; i < m_sources.size(); ++i) {
    if (!m_sources[i].lied) continue;
    RangeSet unproven = ForgetUnproven(i, verified);
    if (unproven.Count() > 0) out.push_back(unproven);
  }
  return out;
}

RangeSet SourceBook::ForgetUnproven(size_t i, const RangeSet& verified) {
  Source& s = m_sources[i];
  RangeSet unproven = s.wrote;
  for (const auto& v : verified.Ranges()) unproven.Remove(v.begin, v.end);
  for (const auto& u : unproven.Ranges()) s.wrote.Remove(u.begin, u.end);
  return unproven;
}

RangeSet SourceBook::BlameFrom(uint64_t from) {
  RangeSet again;
  for (size_t i = 0; i < m_sources.size(); ++i) {
    Source& s = m_sources[i];
    if (s.primary || s.wrote.CoveredIn(from, UINT64_MAX) == 0) continue;
    Debug("check failed; fetching again the %llu bytes of %s", static_cast<unsigned long long>(s.wrote.Covered()),
          s.url.c_str());
    Drop(i, "the file failed its check");
    for (const auto& r : s.wrote.Ranges()) again.Add(r.begin, r.end);
    s.wrote.Clear();
  }
  return again;
}

}  // namespace p2sp
