#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace p2sp {

// Half-open byte range [begin, end).
struct ByteRange {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t Length() const { return end > begin ? end - begin : 0; }
  bool operator==(const ByteRange& o) const { return begin == o.begin && end == o.end; }
};

// A set of disjoint byte ranges, merged on insertion. Offsets are full 64-bit:
// files above 4 GiB are ordinary here.
class RangeSet {
 public:
  void Add(uint64_t begin, uint64_t end);
  void Remove(uint64_t begin, uint64_t end);
  void Clear();
  bool Contains(uint64_t begin, uint64_t end) const;
  // Bytes of [begin, end) that the set covers.
  uint64_t CoveredIn(uint64_t begin, uint64_t end) const;
  // Where the covered run that holds `from` ends; `from` itself when it is not covered.
  uint64_t RunEnd(uint64_t from) const;
  uint64_t Covered() const { return m_covered; }
  size_t Count() const { return m_ranges.size(); }
  std::vector<ByteRange> Ranges() const;
  // The parts of [0, limit) that the set does not cover, in order.
  std::vector<ByteRange> Gaps(uint64_t limit) const;

 private:
  std::map<uint64_t, uint64_t> m_ranges;  // begin -> end
  uint64_t m_covered = 0;
};

}  // namespace p2sp
