#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lan_announcer.h"
#include "links.h"
#include "piece_server.h"

namespace p2sp {

// What this process offers other players: process-wide, changed at once.
struct SharingOptions {
  bool share = true;  // serve verified pieces and announce them
  uint32_t uploadBytesPerSecond = 1u << 20;
  int maxPeersServed = 4;
  std::string address;  // IPv4 to serve and announce on; empty: any
  bool paused = false;  // a full-screen program runs: nothing is served
};

// The process's side of sharing, for all its tasks: one piece server, one
// announcer on the local network, and the peers heard there. The server and
// the announcer start when a first file is wanted or offered, so a process
// that fetches nothing with a manifest opens no port and sends nothing.
class SharingHub {
 public:
  SharingHub() = default;
  ~SharingHub();
  SharingHub(const SharingHub&) = delete;
  SharingHub& operator=(const SharingHub&) = delete;

  // Turning sharing off stops the server and the announcer at once; files
  // offered stay known, and are served again when sharing comes back.
  void Configure(const SharingOptions& options);
  // Everything stops; what was offered is forgotten.
  void Shutdown();

  // A task fetches the file of this SHA-256 (lower-case hex): the local
  // network is told, and its announces of the file are heard.
  void Want(const std::string& sha256, bool wanted);
  // The verified pieces of `file` may be served (when sharing is on).
  void Offer(const std::string& sha256, std::shared_ptr<SharedFile> file);
  void Withdraw(const std::string& sha256);
  // The peers heard on the local network for that file since the last call.
  std::vector<PeerAddress> TakeHeard(const std::string& sha256);

  // The port other players fetch from; 0 while nothing is served.
  uint16_t Port();
  uint64_t Served();

 private:
  void StartLocked();
  void StopLocked();
  void Heard(const std::string& sha256, const std::string& address, uint16_t port);

  std::mutex m_mutex;
  SharingOptions m_options;
  std::unique_ptr<PieceServer> m_server;
  std::unique_ptr<LanAnnouncer> m_announcer;
  bool m_announcerFailed = false;
  std::map<std::string, std::shared_ptr<SharedFile>> m_offered;
  std::map<std::string, int> m_wanted;  // how many tasks want the file
  // Its own lock: the announcer's thread reports here while Stop, under
  // m_mutex, waits for that thread.
  std::mutex m_heardMutex;
  std::map<std::string, std::vector<PeerAddress>> m_heard;
  uint64_t m_servedBefore = 0;  // by servers stopped since
};

}  // namespace p2sp
