#include "announce_book.h"

#include <algorithm>
#include <cstring>

#include "sha256.h"
#include "text.h"

namespace p2sp {

namespace {

const char kMagic[] = "GDPEER 1 ";

// Decimal digits only, no sign or blank, at most `max`.
bool ReadNumber(const std::string& text, uint64_t max, uint64_t* out) {
  uint64_t value = 0;
  if (!ParseU64(text, &value) || value > max) return false;
  *out = value;
  return true;
}

}  // namespace

std::string FormatAnnounce(const PeerAnnounce& announce) {
  return kMagic + announce.sha256 + " " + std::to_string(announce.port) + " " + std::to_string(announce.instance) +
         "\n";
}

bool ParseAnnounce(const char* data, size_t size, PeerAnnounce* out) {
  const size_t magic = sizeof(kMagic) - 1;
  // 9 + 64 + 1 + 5 + 1 + 20 + 1: a datagram is never longer.
  if (size < magic || size > 121 || std::memcmp(data, kMagic, magic) != 0 || data[size - 1] != '\n') return false;
  const std::string rest(data + magic, size - magic - 1);
  const size_t first = rest.find(' ');
  const size_t second = first == std::string::npos ? first : rest.find(' ', first + 1);
  if (second == std::string::npos || rest.find(' ', second + 1) != std::string::npos) return false;
  PeerAnnounce parsed;
  parsed.sha256 = rest.substr(0, first);
  uint64_t port = 0;
  // Lower case only, as every sender writes it.
  std::string normal = parsed.sha256;
  if (!NormalizeSha256Text(&normal) || normal != parsed.sha256) return false;
  if (!ReadNumber(rest.substr(first + 1, second - first - 1), 65535, &port) || port == 0) return false;
  if (!ReadNumber(rest.substr(second + 1), UINT64_MAX, &parsed.instance)) return false;
  parsed.port = static_cast<uint16_t>(port);
  *out = parsed;
  return true;
}

void AnnounceBook::Set(const std::string& sha256, bool wanted, bool sharing, uint64_t now) {
  if (!wanted && !sharing) {
    m_files.erase(sha256);
    return;
  }
  auto found = m_files.find(sha256);
  const bool fresh = found == m_files.end() || (sharing && !found->second.sharing);
  File& file = m_files[sha256];
  file.wanted = wanted;
  file.sharing = sharing;
  if (fresh) file.due = now;
}

std::vector<std::string> AnnounceBook::TakeDue(uint64_t now) {
  std::vector<std::string> due;
  if (!m_speaks) return due;
  for (auto& entry : m_files) {
    File& file = entry.second;
    if (file.due > now) continue;
    due.push_back(FormatAnnounce({entry.first, m_port, m_instance}));
    file.sent = true;
    file.lastSent = now;
    file.due = now + kPeriodMs;
  }
  return due;
}

uint64_t AnnounceBook::NextDue() const {
  uint64_t next = UINT64_MAX;
  if (!m_speaks) return next;
  for (const auto& entry : m_files) next = std::min(next, entry.second.due);
  return next;
}

bool AnnounceBook::Hear(const PeerAnnounce& announce, const std::string& address, uint64_t now) {
  if (announce.instance == m_instance) return false;
  auto file = m_files.find(announce.sha256);
  if (file == m_files.end()) return false;

  // Old neighbours are forgotten, so the table stays as small as the network.
  while (!m_senders.empty() && now - std::min(now, m_senders.front().heard) > kForgetMs) {
    m_heard.erase(m_senders.front().key);
    m_senders.pop_front();
  }
  const std::string key = address + "|" + std::to_string(announce.port) + "|" + announce.sha256;
  auto known = m_heard.find(key);
  const bool newcomer = known == m_heard.end();
  if (newcomer) {
    if (m_senders.size() >= kMaxHeard) {
      m_heard.erase(m_senders.front().key);
      m_senders.pop_front();
    }
    m_senders.push_back(Sender{key, now, 0, 0});
    known = m_heard.emplace(key, std::prev(m_senders.end())).first;
  } else {
    m_senders.splice(m_senders.end(), m_senders, known->second);
  }
  Sender& sender = *known->second;
  sender.heard = now;

  File& f = file->second;
  if (newcomer && f.sharing) {
    const uint64_t earliest = f.sent ? f.lastSent + kAnswerGapMs : now;
    f.due = std::min(f.due, std::max(now, earliest));
  }
  if (!f.wanted) return false;
  if (sender.timesHandedOn > 0) {
    const uint64_t gap = std::min(kHintGapMs, kFirstHintGapMs << std::min(sender.timesHandedOn - 1, 16u));
    if (now - std::min(now, sender.handedOn) < gap) return false;
  }
  sender.timesHandedOn = std::min(sender.timesHandedOn + 1, 1000u);
  sender.handedOn = now;
  return true;
}

bool PeerOnLocalNet(uint32_t peer, uint32_t bound, unsigned arrivedOn, const std::vector<LocalNet>& nets) {
  // "This network", multicast, reserved and broadcast senders are no one's address.
  if ((peer >> 24) == 0 || peer >= 0xE0000000u) return false;
  const auto within = [](uint32_t a, const LocalNet& net) { return (a & net.mask) == (net.address & net.mask); };
  const auto special = [](uint32_t a) { return (a >> 24) == 127 || (a >> 16) == 0xA9FE; };
  for (const LocalNet& net : nets) {
    if (bound != 0 ? !within(bound, net) : special(net.address) || (arrivedOn != 0 && net.index != arrivedOn)) continue;
    if (!within(peer, net)) continue;
    // The network's own name and its broadcast address, where it has them.
    const uint32_t host = peer & ~net.mask;
    if (net.mask < 0xFFFFFFFEu && (host == 0 || host == ~net.mask)) continue;
    return true;
  }
  return false;
}

}  // namespace p2sp
