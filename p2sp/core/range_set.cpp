#include "range_set.h"

#include <algorithm>

namespace p2sp {

void RangeSet::Add(uint64_t begin, uint64_t end) {
  if (begin >= end) return;
  auto it = m_ranges.upper_bound(begin);
  if (it != m_ranges.begin()) {
    auto prev = std::prev(it);
    if (prev->second >= begin) {
      if (prev->second >= end) return;
      begin = prev->first;
      it = prev;
    }
  }
  // Swallow every range that starts inside or touches [begin, end].
  while (it != m_ranges.end() && it->first <= end) {
    end = std::max(end, it->second);
    m_covered -= it->second - it->first;
    it = m_ranges.erase(it);
  }
  m_ranges[begin] = end;
  m_covered += end - begin;
}

void RangeSet::Remove(uint64_t begin, uint64_t end) {
  if (begin >= end) return;
  auto it = m_ranges.upper_bound(begin);
  if (it != m_ranges.begin()) --it;
  while (it != m_ranges.end() && it->first < end) {
    uint64_t b = it->first, e = it->second;
    if (e <= begin) {
      ++it;
      continue;
    }
    it = m_ranges.erase(it);
    m_covered -= e - b;
    if (b < begin) {
      m_ranges[b] = begin;
      m_covered += begin - b;
    }
    if (e > end) {
      m_ranges[end] = e;
      m_covered += e - end;
      break;
    }
  }
}

void RangeSet::Clear() {
  m_ranges.clear();
  m_covered = 0;
}

bool RangeSet::Contains(uint64_t begin, uint64_t end) const {
  if (begin >= end) return true;
  auto it = m_ranges.upper_bound(begin);
  if (it == m_ranges.begin()) return false;
  --it;
  return it->first <= begin && it->second >= end;
}

uint64_t RangeSet::CoveredIn(uint64_t begin, uint64_t end) const {
  uint64_t sum = 0;
  auto it = m_ranges.upper_bound(begin);
  if (it != m_ranges.begin()) --it;
  for (; it != m_ranges.end() && it->first < end; ++it) {
    uint64_t b = std::max(begin, it->first), e = std::min(end, it->second);
    if (e > b) sum += e - b;
  }
  return sum;
}

uint64_t RangeSet::RunEnd(uint64_t from) const {
  auto it = m_ranges.upper_bound(from);
  if (it == m_ranges.begin()) return from;
  --it;
  return std::max(from, it->second);
}

std::vector<ByteRange> RangeSet::Ranges() const {
  std::vector<ByteRange> out;
  out.reserve(m_ranges.size());
  for (const auto& r : m_ranges) out.push_back({r.first, r.second});
  return out;
}

std::vector<ByteRange> RangeSet::Gaps(uint64_t limit) const {
  std::vector<ByteRange> out;
  uint64_t pos = 0;
  for (const auto& r : m_ranges) {
    if (r.first >= limit) break;
    if (r.first > pos) out.push_back({pos, r.first});
    pos = std::max(pos, r.second);
  }
  if (pos < limit) out.push_back({pos, limit});
  return out;
}

}  // namespace p2sp
