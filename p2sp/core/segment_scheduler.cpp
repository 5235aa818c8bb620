#include "segment_scheduler.h"

#include <algorithm>
#include <vector>

namespace p2sp {

SegmentScheduler::SegmentScheduler(uint64_t fileSize, uint64_t minSplit)
    : m_fileSize(fileSize), m_minSplit(std::max<uint64_t>(minSplit, 1)) {}

namespace {

// A preferred lease is halved only while each half keeps at least this much:
// smaller requests would cost more round trips than they save.
constexpr uint64_t kPreferredMinSplit = 4 * SegmentScheduler::kPieceSize;

}  // namespace

void SegmentScheduler::Reset(uint64_t fileSize) {
  m_fileSize = fileSize;
  m_done.Clear();
  m_leases.clear();
  m_preferFrom = UINT64_MAX;
  ++m_forgotten;
}

void SegmentScheduler::MarkDone(uint64_t begin, uint64_t end) { m_done.Add(begin, std::min(end, m_fileSize)); }

void SegmentScheduler::MarkMissing(uint64_t begin, uint64_t end) {
  uint64_t before = m_done.Covered();
  m_done.Remove(begin, end);
  if (m_done.Covered() != before) ++m_forgotten;
}

std::vector<ByteRange> SegmentScheduler::FreeRuns() const {
  // Missing bytes minus what leases already cover.
  std::vector<ByteRange> free = m_done.Gaps(m_fileSize);
  for (const auto& lease : m_leases) {
    std::vector<ByteRange> next;
    for (const auto& g : free) {
      uint64_t b = lease.second.pos, e = lease.second.end;
      if (e <= g.begin || b >= g.end) {
        next.push_back(g);
        continue;
      }
      if (g.begin < b) next.push_back({g.begin, b});
      if (e < g.end) next.push_back({e, g.end});
    }
    free.swap(next);
  }
  return free;
}

bool SegmentScheduler::LargestFreeRun(ByteRange* run) const {
  std::vector<ByteRange> free = FreeRuns();
  bool found = false;
  for (const auto& g : free) {
    if (!found || g.Length() > run->Length()) {
      *run = g;
      found = true;
    }
  }
  return found;
}

uint64_t SegmentScheduler::SplitPoint(const Lease& v, uint64_t* gain) const {
  *gain = 0;
  uint64_t from = std::max(v.pos, v.committed);
  if (from >= v.end) return 0;
  uint64_t left = v.end - from;
  if (left >= 2 * m_minSplit) {
    // Split on a piece boundary when one lies near the middle.
    uint64_t mid = from + left / 2;
    uint64_t aligned = (mid + kPieceSize / 2) / kPieceSize * kPieceSize;
    if (aligned >= from + m_minSplit && aligned + m_minSplit <= v.end) mid = aligned;
    *gain = v.end - mid;
    return mid;
  }
  // The owner has asked for less than its lease: the unasked rest can go whole.
  if (from > v.pos && left >= m_minSplit) {
    *gain = left;
    return from;
  }
  return 0;
}

int SegmentScheduler::LargestLease() const {
  int best = -1;
  uint64_t bestGain = 0;
  for (const auto& l : m_leases) {
    uint64_t gain;
    SplitPoint(l.second, &gain);
    if (gain > bestGain) {
      bestGain = gain;
      best = l.first;
    }
  }
  return best;
}

bool SegmentScheduler::AssignPreferred(int id, ByteRange* lease) {
  if (m_preferFrom >= m_fileSize || m_done.Contains(m_preferFrom, m_fileSize)) return false;
  return AssignWithin(id, m_preferFrom, kPreferredMinSplit, lease);
}

bool SegmentScheduler::AssignWithin(int id, uint64_t from, uint64_t minInside, ByteRange* lease) {
  if (from >= m_fileSize) return false;
  // A free run there first, clipped to the part.
  ByteRange best;
  for (const auto& g : FreeRuns()) {
    if (g.end <= from) continue;
    ByteRange r{std::max(g.begin, from), g.end};
    if (r.Length() > best.Length()) best = r;
  }
  if (best.Length() > 0) {
    m_leases[id] = {best.begin, best.end, best.begin};
    *lease = best;
    return true;
  }
  // Else the lease with the most bytes of the part not yet asked for: one that
  // reaches into the part gives all of it, one inside it is halved.
  int victim = -1;
  uint64_t bestGain = 0, bestCut = 0;
  for (const auto& l : m_leases) {
    const Lease& v = l.second;
    uint64_t asked = std::max(v.pos, v.committed);
    if (v.end <= from || asked >= v.end) continue;
    uint64_t cut = 0, gain = 0;
    if (asked < from) {
      cut = from;
      gain = v.end - cut;
      if (gain < m_minSplit) continue;
    } else {
      cut = SplitPoint(v, &gain);
      if (gain == 0 || gain < minInside || cut - asked < minInside) continue;
    }
    if (gain > bestGain) {
      victim = l.first;
      bestGain = gain;
      bestCut = cut;
    }
  }
  if (victim < 0) return false;
  Lease& v = m_leases[victim];
  m_leases[id] = {bestCut, v.end, bestCut};
  v.end = bestCut;
  *lease = {bestCut, m_leases[id].end};
  return true;
}

bool SegmentScheduler::Assign(int id, ByteRange* lease, uint64_t from) {
  Release(id);
  if (from > 0) {
    if (m_preferFrom >= from && AssignPreferred(id, lease)) return true;
    return AssignWithin(id, from, m_minSplit, lease);
  }
  if (AssignPreferred(id, lease)) return true;
  ByteRange run;
  bool haveFree = LargestFreeRun(&run);
  int victim = LargestLease();
  uint64_t splitGain = 0;
  uint64_t mid = 0;
  if (victim >= 0) mid = SplitPoint(m_leases[victim], &splitGain);
  if (haveFree && run.Length() >= splitGain) {
    m_leases[id] = {run.begin, run.end, run.begin};
    *lease = run;
    return true;
  }
  if (splitGain == 0) return false;
  Lease& v = m_leases[victim];
  m_leases[id] = {mid, v.end, mid};
  v.end = mid;
  *lease = {mid, m_leases[id].end};
  return true;
}

bool SegmentScheduler::AssignAmong(int id, const std::vector<ByteRange>& wanted, ByteRange* lease, uint64_t most) {
  if (most == 0) most = UINT64_MAX;
  Release(id);
  // Cutting a lease for less than this costs a request more than it gains.
  const uint64_t kMinCut = 64 * 1024;
  const std::vector<ByteRange> free = FreeRuns();
  // Free bytes in any wanted piece before a cut into someone's lease.
  for (const ByteRange& w : wanted) {
    const uint64_t wEnd = std::min(w.end, m_fileSize);
    for (const ByteRange& g : free) {
      const uint64_t b = std::max(g.begin, w.begin);
      uint64_t e = std::min(g.end, wEnd);
      if (b >= e) continue;
      if (e - b > most) e = b + most;
      m_leases[id] = {b, e, b};
      *lease = {b, e};
      return true;
    }
  }
  for (const ByteRange& w : wanted) {
    const uint64_t wEnd = std::min(w.end, m_fileSize);
    for (auto& l : m_leases) {
      Lease& v = l.second;
      const uint64_t cut = std::max({v.pos, v.committed, w.begin});
      uint64_t e = std::min(v.end, wEnd);
      if (e > cut && e - cut > most) e = cut + most;
      // The owner keeps at least what it asked for, and something.
      if (cut <= v.pos || cut >= e || e - cut < kMinCut || m_done.CoveredIn(cut, e) > 0) continue;
      v.end = cut;
      m_leases[id] = {cut, e, cut};
      *lease = {cut, e};
      return true;
    }
  }
  return false;
}

void SegmentScheduler::TrimLeases() {
  for (auto& l : m_leases) l.second.end = std::max(l.second.pos, std::min(l.second.end, l.second.committed));
}

bool SegmentScheduler::AssignExact(int id, const ByteRange& range) {
  Release(id);
  if (range.begin >= range.end || range.end > m_fileSize) return false;
  for (const auto& g : FreeRuns()) {
    if (g.begin <= range.begin && range.end <= g.end) {
      m_leases[id] = {range.begin, range.end, range.begin};
      return true;
    }
  }
  return false;
}

bool SegmentScheduler::TakeOver(int thief, int victim, ByteRange* lease) {
  auto it = m_leases.find(victim);
  if (thief == victim || it == m_leases.end() || it->second.pos >= it->second.end) return false;
  Lease taken = it->second;
  taken.committed = taken.pos;
  m_leases.erase(it);
  Release(thief);
  m_leases[thief] = taken;
  *lease = {taken.pos, taken.end};
  return true;
}

uint64_t SegmentScheduler::Accept(int id, uint64_t offset, uint64_t len) {
  auto it = m_leases.find(id);
  if (it == m_leases.end() || offset != it->second.pos || offset >= it->second.end) return 0;
  return std::min(len, it->second.end - offset);
}

void SegmentScheduler::Written(int id, uint64_t offset, uint64_t len) {
  auto it = m_leases.find(id);
  if (it != m_leases.end() && offset == it->second.pos) it->second.pos = std::min(it->second.end, offset + len);
  MarkDone(offset, offset + len);
}

void SegmentScheduler::Commit(int id, uint64_t end) {
  auto it = m_leases.find(id);
  if (it != m_leases.end()) it->second.committed = std::max(it->second.committed, std::min(end, it->second.end));
}

ByteRange SegmentScheduler::LeaseOf(int id) const {
  auto it = m_leases.find(id);
  if (it == m_leases.end()) return {};
  return {it->second.pos, it->second.end};
}

void SegmentScheduler::Release(int id) { m_leases.erase(id); }

}  // namespace p2sp
