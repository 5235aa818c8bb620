#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Players who asked the seed service about a file while sharing it: each is
// a peer of that file for ten minutes after its last query. Bounded, so that
// a crowd of made-up files or ports cannot grow it without end.
class PeerBook {
 public:
  static constexpr int64_t kForgetMs = 10 * 60 * 1000;
  static constexpr size_t kMaxAnswer = 8;
  static constexpr size_t kMaxPeersPerFile = 256;
  static constexpr size_t kMaxFiles = 4096;

  struct Peer {
    std::string address;  // as the server saw it
    uint16_t port = 0;
  };

  // Records the asker as a peer of the file and returns up to kMaxAnswer
  // others: those behind the asker's own public address first (players
  // behind one router), then the most recently seen.
  std::vector<Peer> Meet(const std::string& sha256, const std::string& address, uint16_t port, int64_t nowMs);
  size_t Files();

  // "<lower-case sha-256>" when `text` is 64 hex digits, otherwise empty.
  static std::string FileKey(const std::string& text);
  // The seed answer's line for a peer: "peer <address>:<port>", an IPv6
  // address in brackets.
  static std::string Line(const Peer& peer);

 private:
  struct File {
    std::map<std::pair<std::string, uint16_t>, int64_t> peers;  // -> last query
  };
  void Forget(File& file, int64_t nowMs);

  std::mutex m_lock;
  std::map<std::string, File> m_files;
};
