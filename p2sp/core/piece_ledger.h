#pragma once

#include <cstdint>
#include <vector>

#include "metalink.h"
#include "range_set.h"

namespace p2sp {

// With a manifest: which pieces are verified, which wait for their check and
// which are still to come, and how often the link's server gave a bad copy of
// each. Pure bookkeeping; the hashing runs in PieceChecker.
class PieceLedger {
 public:
  enum class Outcome { kIgnored, kVerified, kRecheck, kBad };

  // Forgets everything; `manifest` (kept by the caller) may be null: no pieces.
  void Reset(const Manifest* manifest);
  bool Active() const { return m_manifest != nullptr; }
  ByteRange Range(uint64_t index) const { return {m_manifest->PieceBegin(index), m_manifest->PieceEnd(index)}; }

  // Pieces from an earlier run's record, verified against the same manifest,
  // that are still wholly done; returns how many.
  uint64_t Trust(const RangeSet& verified, const RangeSet& done);
  // Pieces now wholly inside `done` that are neither verified nor waiting:
  // they wait from now on. `generation` changes whenever done bytes are
  // forgotten; a verdict on bytes of an older generation does not count.
  std::vector<uint64_t> TakeReady(const RangeSet& done, uint64_t generation);
  Outcome Settle(uint64_t index, bool match, uint64_t generation);
  // A bad copy of `index` from the link's server; true at the second one.
  bool StrikeLink(uint64_t index);

  const RangeSet& Verified() const { return m_verified; }
  bool AllVerified() const { return !m_manifest || m_verified.Covered() >= m_manifest->size; }
  uint64_t Checked() const { return m_checked; }

 private:
  enum : uint8_t { kMissing, kWaiting, kVerified };
  const Manifest* m_manifest = nullptr;
  std::vector<uint8_t> m_state;
  std::vector<uint64_t> m_queuedAt;
  std::vector<uint8_t> m_strikes;
  RangeSet m_verified;
  uint64_t m_checked = 0;
  uint64_t m_scannedAt = UINT64_MAX;
};

}  // namespace p2sp
