#include "piece_ledger.h"

namespace p2sp {

void PieceLedger::Reset(const Manifest* manifest) {
  m_manifest = manifest;
  const size_t count = manifest ? static_cast<size_t>(manifest->PieceCount()) : 0;
  m_state.assign(count, kMissing);
  m_queuedAt.assign(count, 0);
  m_strikes.assign(count, 0);
  m_verified.Clear();
  m_checked = 0;
  m_scannedAt = UINT64_MAX;
}

uint64_t PieceLedger::Trust(const RangeSet& verified, const RangeSet& done) {
  uint64_t trusted = 0;
  for (uint64_t i = 0; i < m_state.size(); ++i) {
    ByteRange r = Range(i);
    if (m_state[i] == kMissing && verified.Contains(r.begin, r.end) && done.Contains(r.begin, r.end)) {
      m_state[i] = kVerified;
      m_verified.Add(r.begin, r.end);
      ++trusted;
    }
  }
  return trusted;
}

std::vector<uint64_t> PieceLedger::TakeReady(const RangeSet& done, uint64_t generation) {
  std::vector<uint64_t> ready;
  // Only worth a look when bytes came or went.
  const uint64_t key = done.Covered() ^ (generation << 40);
  if (!m_manifest || key == m_scannedAt) return ready;
  m_scannedAt = key;
  for (uint64_t i = 0; i < m_state.size(); ++i) {
    ByteRange r = Range(i);
    if (m_state[i] != kMissing || !done.Contains(r.begin, r.end)) continue;
    m_state[i] = kWaiting;
    m_queuedAt[i] = generation;
    ready.push_back(i);
  }
  return ready;
}

PieceLedger::Outcome PieceLedger::Settle(uint64_t index, bool match, uint64_t generation) {
  if (index >= m_state.size() || m_state[index] != kWaiting) return Outcome::kIgnored;
  m_state[index] = kMissing;
  m_scannedAt = UINT64_MAX;                                       // look again, even if no byte moved
  if (m_queuedAt[index] != generation) return Outcome::kRecheck;  // bytes changed under the hash
  ++m_checked;
  if (!match) return Outcome::kBad;
  m_state[index] = kVerified;
  ByteRange r = Range(index);
  m_verified.Add(r.begin, r.end);
  return Outcome::kVerified;
}

bool PieceLedger::StrikeLink(uint64_t index) { return index < m_strikes.size() && ++m_strikes[index] >= 2; }

}  // namespace p2sp
