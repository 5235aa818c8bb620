#include "pacer.h"

#include <algorithm>

namespace p2sp {

constexpr std::chrono::milliseconds Pacer::kGrowInterval;
constexpr std::chrono::milliseconds Pacer::kRecordInterval;
constexpr std::chrono::seconds Pacer::kTakeOverIdle;
constexpr std::chrono::seconds Pacer::kJudgeWindow;

Pacer::Pacer(int initialConnections, int maxConnections)
    : m_maxConnections(maxConnections), m_perSource(std::max(1, std::min(initialConnections, maxConnections))) {}

void Pacer::Start(Clock::time_point now, uint64_t bytes) {
  m_start = m_lastGrow = now;
  m_startBytes = m_growBytes = bytes;
}

bool Pacer::Grow(Clock::time_point now, uint64_t bytes, bool mayGrow) {
  auto since = now - m_lastGrow;
  if (since < kGrowInterval) return false;
  double rate = (bytes - m_growBytes) / std::chrono::duration<double>(since).count();
  bool grew = false;
  if (mayGrow && m_perSource < m_maxConnections && rate > m_growRate * 1.1) {
    m_perSource = std::min(m_maxConnections, m_perSource + 4);
    grew = true;
  }
  m_growRate = std::max(m_growRate, rate);
  m_growBytes = bytes;
  m_lastGrow = now;
  return grew;
}

uint64_t Pacer::Ask(uint64_t chunk, uint64_t missing, uint64_t connections) const {
  uint64_t conns = std::max<uint64_t>(connections, static_cast<uint64_t>(m_perSource));
  return std::max(kMinChunk, std::min(chunk, missing / (2 * conns)));
}

uint64_t Pacer::NextChunk(uint64_t bytes, double seconds) {
  double rate = bytes / std::max(seconds, 1e-3);
  return std::min(kMaxChunk, std::max(kMinChunk, static_cast<uint64_t>(rate)));
}

bool Pacer::MayTakeOver(bool midAnswer, Clock::time_point lastProgress, Clock::time_point now) {
  return midAnswer && now - lastProgress > kTakeOverIdle;
}

bool Pacer::SlowPeer(double rate, double taskRate, size_t connections) {
  const double floor = std::min(kSlowPeerCeiling, taskRate / (kSlowPeerShare * std::max<size_t>(1, connections)));
  return rate < floor;
}

bool Pacer::MayTakeLease(uint64_t left, double victimRate, double thiefRate) {
  if (thiefRate <= 0 || thiefRate < kFasterBy * victimRate) return false;
  return victimRate <= 0 || static_cast<double>(left) / victimRate > kLeaseTakeOverSeconds;
}

bool Pacer::RecordDue(Clock::time_point now, Clock::time_point lastRecord, uint64_t bytes, uint64_t left) const {
  if (now - lastRecord < kRecordInterval) return false;
  double secs = std::chrono::duration<double>(now - m_start).count();
  double rate = (bytes - m_startBytes) / std::max(secs, 1e-3);
  return static_cast<double>(left) > rate * std::chrono::duration<double>(kRecordInterval).count();
}

}  // namespace p2sp
