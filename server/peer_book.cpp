#include "peer_book.h"

#include <iterator>

namespace {

// Files nobody asked about for ten minutes are dropped a few at a time, so
// that no query pays for many of them at once (the limits bound what waits).
constexpr int kForgetFilesPerQuery = 2;

}  // namespace

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

void PeerBook::Drop(File& file, Entries::iterator entry) {
  const auto address = m_addresses.find(entry->address);
  address->second.erase(entry->held);
  if (address->second.empty()) m_addresses.erase(address);
  file.entries.erase(entry);
}

void PeerBook::DropFile(File& file) {
  while (!file.entries.empty()) Drop(file, file.entries.begin());
  m_lately.erase(file.lately);
  const std::string key = file.key;  // not a reference into the node being erased
  m_files.erase(key);
}

void PeerBook::Touch(File& file, Entries::iterator entry, int64_t nowMs) {
  entry->seen = nowMs;
  file.entries.splice(file.entries.begin(), file.entries, entry);
  Helds& held = m_addresses[entry->address];
  held.splice(held.begin(), held, entry->held);
}

void PeerBook::Forget(File& file, int64_t nowMs) {
  while (!file.entries.empty() && nowMs - file.entries.back().seen > kForgetMs)
    Drop(file, std::prev(file.entries.end()));
}

std::vector<PeerBook::Peer> PeerBook::Meet(const std::string& sha256, const std::string& address, uint16_t port,
                                           int64_t nowMs) {
  std::lock_guard<std::mutex> hold(m_lock);
  for (int i = 0; i < kForgetFilesPerQuery && !m_lately.empty() && nowMs - m_lately.back()->seen > kForgetMs; ++i)
    DropFile(*m_lately.back());
  const bool keep = port >= kLowestPort;
  auto found = m_files.find(sha256);
  if (found == m_files.end()) {
    // Nobody shares it: nothing to answer, and a query that is not kept
    // makes no room.
    if (!keep) return {};
    if (m_files.size() >= kMaxFiles) DropFile(*m_lately.back());
    found = m_files.emplace(sha256, File()).first;
    found->second.key = sha256;
    m_lately.push_front(&found->second);
    found->second.lately = m_lately.begin();
  }
  File& file = found->second;
  file.seen = nowMs;
  m_lately.splice(m_lately.begin(), m_lately, file.lately);
  Forget(file, nowMs);

  std::vector<Peer> near, others;
  auto mine = file.entries.end();
  auto oldestOfAddress = file.entries.end();
  size_t ofAddress = 0;
  for (auto it = file.entries.begin(); it != file.entries.end(); ++it) {
    if (it->address != address) {
      if (others.size() < kMaxAnswer) others.push_back({it->address, it->port});
      continue;
    }
    ++ofAddress;
    oldestOfAddress = it;
    if (it->port == port) {
      mine = it;
    } else if (near.size() < kMaxAnswer) {
      near.push_back({it->address, it->port});
    }
  }
  for (size_t i = 0; near.size() < kMaxAnswer && i < others.size(); ++i) near.push_back(others[i]);

  if (keep && mine != file.entries.end()) {
    Touch(file, mine, nowMs);
  } else if (keep) {
    // Room is made by the asker's own address first; only a file full of
    // many addresses' entries loses its longest silent one.
    Helds& held = m_addresses[address];
    if (ofAddress >= kMaxPerAddressAndFile) {
      Drop(file, oldestOfAddress);
    } else if (held.size() >= kMaxPerAddress) {
      File& other = *held.back().file;
      Drop(other, held.back().entry);
      if (&other != &file && other.entries.empty()) DropFile(other);
    }
    if (file.entries.size() >= kMaxPeersPerFile) Drop(file, std::prev(file.entries.end()));
    Helds& after = m_addresses[address];  // the drops above may have removed the address
    file.entries.push_front(Entry{address, port, nowMs, Helds::iterator()});
    after.push_front(Held{&file, file.entries.begin()});
    file.entries.front().held = after.begin();
  }
  if (file.entries.empty()) DropFile(file);
  return near;
}

size_t PeerBook::Files() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_files.size();
}
