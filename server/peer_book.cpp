#include "peer_book.h"

#include <algorithm>

std::string PeerBook::FileKey(const std::string& text) {
  if (text.size() != 64) return std::string();
  std::string key = text;
  for (char& c : key) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::string();
  }
  return key;
}

std::string PeerBook::Line(const Peer& peer) {
  const bool v6 = peer.address.find(':') != std::string::npos;
  return "peer " + (v6 ? "[" + peer.address + "]" : peer.address) + ":" + std::to_string(peer.port) + "\n";
}

void PeerBook::Forget(File& file, int64_t nowMs) {
  for (auto it = file.peers.begin(); it != file.peers.end();) {
    it = nowMs - it->second > kForgetMs ? file.peers.erase(it) : std::next(it);
  }
}

std::vector<PeerBook::Peer> PeerBook::Meet(const std::string& sha256, const std::string& address, uint16_t port,
                                           int64_t nowMs) {
  std::lock_guard<std::mutex> hold(m_lock);
  auto found = m_files.find(sha256);
  if (found == m_files.end()) {
    if (m_files.size() >= kMaxFiles) {
      // Room is made by files nobody asked about lately; when every file is
      // live the newcomer is answered but not kept.
      for (auto it = m_files.begin(); it != m_files.end();) {
        Forget(it->second, nowMs);
        it = it->second.peers.empty() ? m_files.erase(it) : std::next(it);
      }
    }
    if (m_files.size() >= kMaxFiles) return {};
    found = m_files.emplace(sha256, File()).first;
  }
  File& file = found->second;
  Forget(file, nowMs);

  std::vector<std::pair<std::pair<std::string, uint16_t>, int64_t>> others;
  for (const auto& p : file.peers) {
    if (p.first.first == address && p.first.second == port) continue;
    others.push_back(p);
  }
  std::sort(others.begin(), others.end(), [&](const auto& a, const auto& b) {
    const bool aNear = a.first.first == address, bNear = b.first.first == address;
    if (aNear != bNear) return aNear;
    if (a.second != b.second) return a.second > b.second;
    return a.first < b.first;
  });
  std::vector<Peer> answer;
  for (size_t i = 0; i < others.size() && answer.size() < kMaxAnswer; ++i) {
    answer.push_back({others[i].first.first, others[i].first.second});
  }

  if (port != 0) {
    auto key = std::make_pair(address, port);
    if (file.peers.find(key) == file.peers.end() && file.peers.size() >= kMaxPeersPerFile) {
      // The longest silent peer makes room.
      auto oldest = std::min_element(file.peers.begin(), file.peers.end(),
                                     [](const auto& a, const auto& b) { return a.second < b.second; });
      file.peers.erase(oldest);
    }
    file.peers[key] = nowMs;
  }
  if (file.peers.empty()) m_files.erase(found);
  return answer;
}

size_t PeerBook::Files() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_files.size();
}
