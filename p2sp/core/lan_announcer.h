#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "announce_book.h"

namespace p2sp {

// Tells the local network, by UDP multicast, which files this process fetches
// or shares, and hears the same from its neighbours. Announces are only hints:
// a peer heard here is used once its piece map has been fetched.
class LanAnnouncer {
 public:
  struct Options {
    std::string group = "239.255.71.71";  // organisation-local scope
    uint16_t udpPort = 27171;
    // The interface to announce and listen on, as its IPv4 address; empty:
    // the system's choice. Tests use 127.0.0.1, so nothing leaves the host.
    std::string interfaceAddress;
    uint16_t sharePort = 0;  // the HTTP port of this process's piece server
    bool speaks = true;      // false: listen only (sharing turned off)
  };
  // A neighbour announced a file this process fetches.
  using PeerFound = std::function<void(const std::string& sha256, const std::string& address, uint16_t port)>;

  LanAnnouncer(const Options& options, PeerFound found);
  ~LanAnnouncer();
  LanAnnouncer(const LanAnnouncer&) = delete;
  LanAnnouncer& operator=(const LanAnnouncer&) = delete;

  // False when the socket cannot be made or joined: the process then neither
  // announces nor hears, and downloads go on from the other sources.
  bool Start();
  void Stop();
  void Set(const std::string& sha256, bool wanted, bool sharing);

 private:
  void Run();

  Options m_options;
  PeerFound m_found;
  std::mutex m_lock;
  AnnounceBook m_book;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  intptr_t m_socket = -1;
};

// Milliseconds on a steady clock, for the announcer's book.
uint64_t SteadyMs();

}  // namespace p2sp
