#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "range_set.h"

namespace p2sp {

// Decides which bytes each connection fetches. Pure bookkeeping: no sockets, no
// clock. A connection holds a lease [pos, end); what it writes becomes done.
// A free connection takes the largest run nobody works on, or else splits the
// largest lease in two, so work spreads without a fixed piece table.
class SegmentScheduler {
 public:
  static constexpr uint64_t kPieceSize = 1u << 20;

  explicit SegmentScheduler(uint64_t fileSize = 0, uint64_t minSplit = kPieceSize);

  // Forgets leases, done bytes and the preferred part.
  void Reset(uint64_t fileSize);
  uint64_t FileSize() const { return m_fileSize; }
  const RangeSet& Done() const { return m_done; }
  void MarkDone(uint64_t begin, uint64_t end);
  void MarkMissing(uint64_t begin, uint64_t end);
  // Grows whenever done bytes are forgotten (Reset, MarkMissing), so that work
  // built on them, such as a hash, knows to start over.
  uint64_t Forgotten() const { return m_forgotten; }
  // Bytes from `offset` to the end are handed out before all others and in
  // pieces small enough to arrive early, so that the check, which reads them in
  // order, can run while the rest of the file arrives.
  void PreferFrom(uint64_t offset) { m_preferFrom = offset; }
  bool Complete() const { return m_done.Covered() >= m_fileSize; }

  // Gives connection `id` a lease; false when there is nothing worth giving.
  // With `from` above 0 the lease lies wholly at or after `from` (a source
  // whose bytes are trusted only in that part).
  bool Assign(int id, ByteRange* lease, uint64_t from = 0);
  // Gives `id` a lease inside the first of `wanted` (pieces, in the caller's
  // order of preference) that has bytes nobody fetches yet: a free run there,
  // or else the part of another lease there that its owner has not asked for
  // (the owner keeps what lies before it; what lies after is free again).
  // The lease holds at most `most` bytes.
  bool AssignAmong(int id, const std::vector<ByteRange>& wanted, ByteRange* lease, uint64_t most = UINT64_MAX);
  // Every lease ends where its owner's requests end: the rest is free, to be
  // handed out anew in a different order.
  void TrimLeases();
  // Gives `id` exactly `range` when no byte of it is done or leased.
  bool AssignExact(int id, const ByteRange& range);
  // Moves the unwritten rest of `victim`'s lease to `thief` (a stuck connection
  // at the end of the file, too small to split).
  bool TakeOver(int thief, int victim, ByteRange* lease);
  // `len` bytes at `offset` arrived on `id`; returns how many of them fall inside
  // its lease (the rest belong to someone else now and must be dropped).
  uint64_t Accept(int id, uint64_t offset, uint64_t len);
  // Records that accepted bytes reached the file.
  void Written(int id, uint64_t offset, uint64_t len);
  // `id` has asked its server for bytes up to `end`: a split never cuts into
  // them, so no byte already on its way is thrown away.
  void Commit(int id, uint64_t end);
  bool HasLease(int id) const { return m_leases.count(id) != 0; }
  ByteRange LeaseOf(int id) const;
  // Ends `id`'s lease; its unwritten part is free again.
  void Release(int id);
  // The lease with the most bytes left to split off, or -1.
  int LargestLease() const;

 private:
  struct Lease {
    uint64_t pos;
    uint64_t end;
    uint64_t committed;
  };
  // Where `lease` could be cut and what the new part would get; 0 when it cannot.
  uint64_t SplitPoint(const Lease& lease, uint64_t* gain) const;
  std::vector<ByteRange> FreeRuns() const;
  bool LargestFreeRun(ByteRange* run) const;
  bool AssignPreferred(int id, ByteRange* lease);
  // A lease at or after `from`: a free run there, else the cut of a lease that
  // reaches into that part; a lease inside it is halved only while each half
  // keeps `minInside`.
  bool AssignWithin(int id, uint64_t from, uint64_t minInside, ByteRange* lease);

  uint64_t m_fileSize;
  uint64_t m_minSplit;
  uint64_t m_preferFrom = UINT64_MAX;
  uint64_t m_forgotten = 0;
  RangeSet m_done;
  std::map<int, Lease> m_leases;
};

}  // namespace p2sp
