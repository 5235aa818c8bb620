#include "sharing_hub.h"

#include <algorithm>

#include "trace.h"

namespace p2sp {

namespace {
// Peers heard for one file and not yet taken; a crowd cannot grow it further.
constexpr size_t kMaxHeardPerFile = 64;
}  // namespace

SharingHub::~SharingHub() { Shutdown(); }

void SharingHub::Configure(const SharingOptions& options) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const bool restart = options.share != m_options.share || options.address != m_options.address ||
                       options.uploadBytesPerSecond != m_options.uploadBytesPerSecond ||
                       options.maxPeersServed != m_options.maxPeersServed;
  m_options = options;
  if (m_server) m_server->SetPaused(options.paused);
  if (restart && (m_server || m_announcer)) {
    StopLocked();
    StartLocked();
  }
}

void SharingHub::Shutdown() {
  std::lock_guard<std::mutex> lock(m_mutex);
  StopLocked();
  m_offered.clear();
  m_wanted.clear();
  std::lock_guard<std::mutex> heard(m_heardMutex);
  m_heard.clear();
}

void SharingHub::StartLocked() {
  if (m_offered.empty() && m_wanted.empty()) return;
  if (m_options.share && !m_server) {
    auto server = std::make_unique<PieceServer>();
    PieceServerOptions o;
    o.bindAddress = m_options.address.empty() ? "0.0.0.0" : m_options.address;
    o.uploadBytesPerSecond = m_options.uploadBytesPerSecond;
    o.maxPeers = static_cast<unsigned>(m_options.maxPeersServed);
    std::string why;
    if (server->Start(o, &why)) {
      server->SetPaused(m_options.paused);
      for (const auto& f : m_offered) server->Register(f.first, f.second);
      m_server = std::move(server);
      Debug("serving verified pieces on port %u", static_cast<unsigned>(m_server->Port()));
    } else {
      // Others cannot fetch from us; our own downloads go on as before.
      Debug("cannot serve pieces: %s", why.c_str());
    }
  }
  if (!m_announcer && !m_announcerFailed) {
    LanAnnouncer::Options o;
    o.interfaceAddress = m_options.address;
    o.sharePort = m_server ? m_server->Port() : 0;
    o.speaks = m_server != nullptr;
    auto announcer = std::make_unique<LanAnnouncer>(
        o, [this](const std::string& sha, const std::string& address, uint16_t port) { Heard(sha, address, port); });
    for (const auto& w : m_wanted) announcer->Set(w.first, true, m_offered.count(w.first) != 0);
    for (const auto& f : m_offered)
      if (!m_wanted.count(f.first)) announcer->Set(f.first, false, true);
    if (announcer->Start()) {
      m_announcer = std::move(announcer);
    } else {
      m_announcerFailed = true;  // not retried for every file
      Debug("no announces on the local network");
    }
  }
}

void SharingHub::StopLocked() {
  if (m_announcer) m_announcer->Stop();
  m_announcer.reset();
  m_announcerFailed = false;
  if (m_server) {
    m_servedBefore += m_server->BytesServed();
    m_server->Stop();
  }
  m_server.reset();
}

void SharingHub::Want(const std::string& sha256, bool wanted) {
  std::lock_guard<std::mutex> lock(m_mutex);
  int& count = m_wanted[sha256];
  count = std::max(0, count + (wanted ? 1 : -1));
  const bool still = count > 0;
  if (!still) m_wanted.erase(sha256);
  if (!still) {
    std::lock_guard<std::mutex> heard(m_heardMutex);
    m_heard.erase(sha256);
  }
  StartLocked();
  if (m_announcer) m_announcer->Set(sha256, still, m_offered.count(sha256) != 0 && m_server);
}

void SharingHub::Offer(const std::string& sha256, std::shared_ptr<SharedFile> file) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_offered[sha256] = file;
  StartLocked();
  if (m_server) m_server->Register(sha256, file);
  if (m_announcer) m_announcer->Set(sha256, m_wanted.count(sha256) != 0, m_server != nullptr);
}

void SharingHub::Withdraw(const std::string& sha256) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_offered.erase(sha256)) return;
  if (m_server) m_server->Unregister(sha256);
  if (m_announcer) m_announcer->Set(sha256, m_wanted.count(sha256) != 0, false);
}

void SharingHub::Heard(const std::string& sha256, const std::string& address, uint16_t port) {
  std::lock_guard<std::mutex> lock(m_heardMutex);
  auto& list = m_heard[sha256];
  PeerAddress peer{address, port};
  if (list.size() >= kMaxHeardPerFile || std::find(list.begin(), list.end(), peer) != list.end()) return;
  list.push_back(peer);
}

std::vector<PeerAddress> SharingHub::TakeHeard(const std::string& sha256) {
  std::lock_guard<std::mutex> lock(m_heardMutex);
  auto it = m_heard.find(sha256);
  if (it == m_heard.end()) return {};
  std::vector<PeerAddress> out;
  out.swap(it->second);
  return out;
}

uint16_t SharingHub::Port() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_server ? m_server->Port() : 0;
}

uint64_t SharingHub::Served() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_servedBefore + (m_server ? m_server->BytesServed() : 0);
}

}  // namespace p2sp
