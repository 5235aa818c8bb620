#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace p2sp {

// One announce on the local network: "GDPEER 1 <sha-256 of the file> <port>
// <instance>\n". The port is the sender's sharing port; the instance is a
// random number per process, so that a process can tell its own announces,
// which multicast loops back to it, from a neighbour's.
struct PeerAnnounce {
  std::string sha256;  // 64 lower-case hex digits
  uint16_t port = 0;
  uint64_t instance = 0;
};

std::string FormatAnnounce(const PeerAnnounce& announce);
// Strict: the exact shape above, version 1, a port other than 0; a later
// version or anything else is ignored by the caller.
bool ParseAnnounce(const char* data, size_t size, PeerAnnounce* out);

// An IPv4 network of one of this machine's interfaces, in host byte order;
// `index` is the interface's number (0: unknown).
struct LocalNet {
  uint32_t address = 0;
  uint32_t mask = 0;
  unsigned index = 0;
};
// Whether an announce sent from `peer` may name a peer at all: it must come
// from the network of the interface that heard it. `bound` is the address
// sharing is bound to (0: any), `arrivedOn` the interface the datagram came in
// on (0: unknown). Loopback and link-local senders count only when sharing is
// bound to such an address; "this network", broadcast and multicast senders
// never do.
bool PeerOnLocalNet(uint32_t peer, uint32_t bound, unsigned arrivedOn, const std::vector<LocalNet>& nets);

// Which files this process announces and when, on the caller's clock
// (milliseconds). Pure bookkeeping; the sockets live in LanAnnouncer.
class AnnounceBook {
 public:
  static constexpr uint64_t kPeriodMs = 30000;
  // A newcomer's announce of a file we share is answered this much after our
  // last announce of it at the earliest, so that a crowd cannot make us shout.
  static constexpr uint64_t kAnswerGapMs = 1000;
  // A neighbour not heard for this long is new again.
  static constexpr uint64_t kForgetMs = 3 * kPeriodMs;
  // One sender (address, port) of one file is handed on as a peer at most
  // once in a gap, however often it announces, so that announces cannot make
  // the download knock at the same door again and again. The first gap is
  // short, as a player heard before it could answer for its file announces
  // again and is then used; each next one is twice as long, up to a period.
  static constexpr uint64_t kFirstHintGapMs = 2000;
  static constexpr uint64_t kHintGapMs = kPeriodMs;
  // At most this many senders are remembered; a crowd of made-up ones pushes
  // out the oldest instead of growing the table.
  static constexpr size_t kMaxHeard = 1024;

  // `speaks` false: a process that does not share listens only and
  // announces nothing.
  AnnounceBook(uint16_t port, uint64_t instance, bool speaks)
      : m_port(port), m_instance(instance), m_speaks(speaks) {}

  // What this process does with a file: fetches it, shares it, both (a task
  // serves its verified pieces while it runs) or neither (forgotten). A file
  // new to the book, or newly shared, is announced at once.
  void Set(const std::string& sha256, bool wanted, bool sharing, uint64_t now);
  bool Empty() const { return m_files.empty(); }

  // The datagrams due at `now`; each is then due again a period later.
  std::vector<std::string> TakeDue(uint64_t now);
  // When the next datagram is due (UINT64_MAX: none).
  uint64_t NextDue() const;

  // An announce from `address`, on a clock that never goes back. True when
  // it names a file we fetch and this sender's gap since it was last handed
  // on is over (the caller then adds that peer as a source). A neighbour not
  // heard lately that names a file we share brings our own announce of it
  // forward.
  bool Hear(const PeerAnnounce& announce, const std::string& address, uint64_t now);
  size_t HeardCount() const { return m_heard.size(); }

 private:
  struct File {
    bool wanted = false;
    bool sharing = false;
    uint64_t due = 0;
    uint64_t lastSent = 0;
    bool sent = false;
  };
  uint16_t m_port;
  uint64_t m_instance;
  bool m_speaks;
  std::map<std::string, File> m_files;
  struct Sender {
    std::string key;  // address|port|sha
    uint64_t heard = 0;
    uint64_t handedOn = 0;
    unsigned timesHandedOn = 0;
  };
  // Least lately heard first, so that forgetting looks at the front only.
  std::list<Sender> m_senders;
  std::unordered_map<std::string, std::list<Sender>::iterator> m_heard;
};

}  // namespace p2sp
