#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// Players who asked the seed service about a file while sharing it: each is
// a peer of that file for ten minutes after its last query. Bounded, so that
// a crowd of made-up files or ports cannot grow it without end, and every
// query costs the same small time however full it is: files are found by
// hash and kept in the order they were last asked about, and each address's
// entries in the order they were last seen, so that whatever has to go is
// found at the end of a list rather than by a scan.
class PeerBook {
 public:
  static constexpr int64_t kForgetMs = 10 * 60 * 1000;
  static constexpr size_t kMaxAnswer = 8;
  static constexpr size_t kMaxPeersPerFile = 256;
  static constexpr size_t kMaxFiles = 4096;
  // One address (a player, or players behind one router) holds at most this
  // many entries of a file and of the whole book; its own oldest make room
  // for its newer ones, so that it cannot push out anyone else.
  static constexpr size_t kMaxPerAddressAndFile = 4;
  static constexpr size_t kMaxPerAddress = 64;
  // Ports below this one are a system's services, never a player's: asking
  // with one is answered but not kept.
  static constexpr uint16_t kLowestPort = 1024;

  struct Peer {
    std::string address;  // as the server saw it
    uint16_t port = 0;
  };

  PeerBook() = default;
  PeerBook(const PeerBook&) = delete;
  PeerBook& operator=(const PeerBook&) = delete;

  // Records the asker as a peer of the file (unless port is 0 or below
  // kLowestPort) and returns up to kMaxAnswer others: those behind the
  // asker's own public address first (players behind one router), then the
  // most recently seen. A new file is always kept: the file asked about
  // least lately makes room.
  std::vector<Peer> Meet(const std::string& sha256, const std::string& address, uint16_t port, int64_t nowMs);
  size_t Files();

  // "<lower-case sha-256>" when `text` is 64 hex digits, otherwise empty.
  static std::string FileKey(const std::string& text);
  // The seed answer's line for a peer: "peer <address>:<port>", an IPv6
  // address in brackets.
  static std::string Line(const Peer& peer);

 private:
  struct File;
  struct Entry;
  using Entries = std::list<Entry>;
  // Where an address's entry is: its file and its place in that file.
  struct Held {
    File* file;
    Entries::iterator entry;
  };
  using Helds = std::list<Held>;
  struct Entry {
    std::string address;
    uint16_t port;
    int64_t seen;
    Helds::iterator held;  // in m_addresses[address]
  };
  struct File {
    std::string key;
    Entries entries;  // the most recently seen first
    int64_t seen = 0;
    std::list<File*>::iterator lately;  // in m_lately
  };

  void Drop(File& file, Entries::iterator entry);
  void DropFile(File& file);
  void Touch(File& file, Entries::iterator entry, int64_t nowMs);
  void Forget(File& file, int64_t nowMs);

  std::mutex m_lock;
  std::unordered_map<std::string, File> m_files;
  std::list<File*> m_lately;                            // files, the most lately asked about first
  std::unordered_map<std::string, Helds> m_addresses;  // each address's entries, the most recently seen first
};
