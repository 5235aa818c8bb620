#include "piece_server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#endif
#include <microhttpd.h>

#include "sha256.h"

namespace p2sp {

bool PieceMap::Covers(uint64_t begin, uint64_t end) const {
  if (begin >= end || end > size || pieceLength == 0 || verified.size() != PieceCount()) return false;
  for (uint64_t i = begin / pieceLength; i <= (end - 1) / pieceLength; ++i) {
    if (!verified[i]) return false;
  }
  return true;
}

std::string FormatPieceMap(const PieceMap& map) {
  std::string bits;
  bits.reserve(map.verified.size());
  for (bool v : map.verified) bits += v ? '1' : '0';
  return "pieces 1\nsize " + std::to_string(map.size) + "\npiece " + std::to_string(map.pieceLength) + "\nmap " +
         bits + "\n";
}

namespace {

// A whole decimal number of at most 19 digits (below 2^63), no sign, no spaces.
bool ParseCount(const std::string& text, uint64_t* out) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *out = v;
  return true;
}

}  // namespace

bool ParsePieceMap(const std::string& text, PieceMap* out) {
  static const char* const kKeys[] = {"pieces ", "size ", "piece ", "map "};
  std::string values[4];
  size_t pos = 0;
  for (int k = 0; k < 4; ++k) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) return false;
    std::string line = text.substr(pos, eol - pos);
    size_t keyLength = std::strlen(kKeys[k]);
    if (line.compare(0, keyLength, kKeys[k]) != 0) return false;
    values[k] = line.substr(keyLength);
    pos = eol + 1;
  }
  PieceMap map;
  uint64_t version = 0;
  if (pos != text.size() || !ParseCount(values[0], &version) || version != 1 || !ParseCount(values[1], &map.size) ||
      !ParseCount(values[2], &map.pieceLength) || map.pieceLength == 0) {
    return false;
  }
  if (values[3].size() != map.PieceCount()) return false;
  for (char c : values[3]) {
    if (c != '0' && c != '1') return false;
    map.verified.push_back(c == '1');
  }
  *out = std::move(map);
  return true;
}

bool SharedDiskFile::Open(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_file.OpenForReading(path);
}

void SharedDiskFile::SetVerified(const RangeSet& verified) {
  std::lock_guard<std::mutex> lock(m_mutex);
  PieceMap shape{m_size, m_pieceLength, {}};
  m_verified.assign(shape.PieceCount(), false);
  for (uint64_t i = 0; i < m_verified.size(); ++i) {
    uint64_t end = (i + 1) * m_pieceLength;
    m_verified[i] = verified.Contains(i * m_pieceLength, end < m_size ? end : m_size);
  }
}

PieceMap SharedDiskFile::Map() {
  std::lock_guard<std::mutex> lock(m_mutex);
  PieceMap map{m_size, m_pieceLength, m_verified};
  map.verified.resize(map.PieceCount(), false);
  return map;
}

bool SharedDiskFile::Read(uint64_t offset, void* data, size_t size) {
  // ReadAt reads at an offset without a shared file position, so reads need no lock.
  return m_file.IsOpen() && m_file.ReadAt(offset, data, size);
}

char ParseServePath(const std::string& path, std::string* sha256) {
  if (path.size() != 3 + 64 || path[0] != '/' || path[2] != '/') return 0;
  char route = path[1];
  if (route != 'p' && route != 'm') return 0;
  std::string hex = path.substr(3);
  if (!NormalizeSha256Text(&hex)) return 0;
  *sha256 = hex;
  return route;
}

bool ParseRangeHeader(const std::string& header, uint64_t size, ByteRange* out) {
  static const char kUnit[] = "bytes=";
  if (header.compare(0, sizeof kUnit - 1, kUnit) != 0) return false;
  std::string spec = header.substr(sizeof kUnit - 1);
  while (!spec.empty() && (spec.back() == ' ' || spec.back() == '\t')) spec.pop_back();
  size_t dash = spec.find('-');
  if (dash == std::string::npos) return false;  // a comma makes a number fail below: one range only
  std::string first = spec.substr(0, dash), last = spec.substr(dash + 1);
  uint64_t a = 0, b = 0;
  if (first.empty()) {
    // The last n bytes.
    if (!ParseCount(last, &b) || b == 0 || size == 0) return false;
    *out = {b < size ? size - b : 0, size};
    return true;
  }
  if (!ParseCount(first, &a) || a >= size) return false;
  if (last.empty()) {
    *out = {a, size};
    return true;
  }
  if (!ParseCount(last, &b) || b < a) return false;
  *out = {a, b < size - 1 ? b + 1 : size};
  return true;
}

ServeDecision DecideServe(const std::string& method, const std::string& path, const std::string* range,
                          const std::function<bool(const std::string& sha256, PieceMap* map)>& lookup) {
  ServeDecision d;
  if (method != "GET" && method != "HEAD") {
    d.status = 405;
    return d;
  }
  std::string sha256;
  char route = ParseServePath(path, &sha256);
  PieceMap map;
  if (route == 0 || !lookup(sha256, &map)) return d;  // 404
  d.sha256 = sha256;
  d.size = map.size;
  if (route == 'm') {
    d.kind = ServeDecision::kMap;
    d.status = 200;
    return d;
  }
  // The whole file is never sent without a Range: only verified pieces may leave.
  if (range == nullptr) return d;  // 404
  ByteRange r;
  if (!ParseRangeHeader(*range, map.size, &r) || map.pieceLength == 0) {
    d.status = 416;
    return d;
  }
  // One piece at most, the one the range starts in: however the Range is written
  // ("bytes=0-", a suffix longer than the file), a peer cannot take a whole file in
  // one answer. A 206 may hold less than was asked; its Content-Range says what.
  uint64_t toPieceEnd = map.pieceLength - r.begin % map.pieceLength;
  if (r.end - r.begin > toPieceEnd) r.end = r.begin + toPieceEnd;
  if (!map.Covers(r.begin, r.end)) {
    d.status = 416;
    return d;
  }
  d.kind = ServeDecision::kBytes;
  d.status = 206;
  d.range = r;
  return d;
}

// ---------------------------------------------------------------------------

// Every open connection, whether a request is under way on it and since when it
// is idle. A client that holds connections without asking (or asks a byte at a
// time) must not keep the slots from players that ask: headers late past the
// limit close the connection, one address holds few connections, and when the
// server is full the connection idle the longest makes room for a new one.
// Closing is a shutdown of the socket: the library's thread for that connection
// wakes and closes it; the socket stays the library's until Closed is told.
class PieceServer::Connections {
 public:
  using Clock = std::chrono::steady_clock;

  // `headerMs` 0: no time limit; `perAddress` 0: no limit.
  Connections(uint64_t headerMs, unsigned room, unsigned perAddress)
      : m_headerTime(std::chrono::milliseconds(std::min<uint64_t>(headerMs, kDayMs))),
        m_room(room),
        m_perAddress(perAddress) {
    m_thread = std::thread([this] { CloseLateOnes(); });
  }
  ~Connections() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
  }

  void Started(MHD_Connection* connection, MHD_socket socket, const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Entry& entry = m_entries[connection];
    entry = Entry{socket, address, Clock::now()};
    size_t fromAddress = 0, open = 0;
    for (const auto& e : m_entries) {
      if (e.second.closing) continue;
      ++open;
      if (e.second.address == address) ++fromAddress;
    }
    // Without an idle one to close, the new one is told the server is busy.
    if (m_perAddress && fromAddress > m_perAddress) {
      if (CloseOldestIdle(&address, connection)) {
        --open;
      } else {
        entry.refused = true;
      }
    }
    if (!entry.refused && open > m_room && !CloseOldestIdle(nullptr, connection)) entry.refused = true;
    m_wake.notify_all();
  }
  // The headers of a request are in. False when it must be answered 503.
  bool Begin(MHD_Connection* connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(connection);
    if (it == m_entries.end()) return true;
    it->second.busy = true;
    return !it->second.refused;
  }
  // The answer is done; the connection waits for its next request.
  void Ended(MHD_Connection* connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(connection);
    if (it == m_entries.end()) return;
    it->second.busy = false;
    it->second.idleSince = Clock::now();
    m_wake.notify_all();
  }
  void Closed(MHD_Connection* connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.erase(connection);
  }

 private:
  struct Entry {
    MHD_socket socket;
    std::string address;
    Clock::time_point idleSince;
    bool busy = false;
    bool closing = false;
    bool refused = false;
  };

  bool CloseOldestIdle(const std::string* address, MHD_Connection* except) {
    Entry* oldest = nullptr;
    for (auto& e : m_entries) {
      Entry& c = e.second;
      if (e.first == except || c.busy || c.closing || (address && c.address != *address)) continue;
      if (!oldest || c.idleSince < oldest->idleSince) oldest = &c;
    }
    if (oldest) Close(oldest);
    return oldest != nullptr;
  }
  static void Close(Entry* entry) {
    entry->closing = true;
#ifdef _WIN32
    shutdown(entry->socket, SD_BOTH);
#else
    shutdown(entry->socket, SHUT_RDWR);
#endif
  }
  void CloseLateOnes() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
      Clock::time_point now = Clock::now(), next = Clock::time_point::max();
      for (auto& e : m_entries) {
        Entry& c = e.second;
        if (c.busy || c.closing || m_headerTime == Clock::duration::zero()) continue;
        Clock::time_point due = c.idleSince + m_headerTime;
        if (due <= now) {
          Close(&c);
        } else if (due < next) {
          next = due;
        }
      }
      if (next == Clock::time_point::max()) {
        m_wake.wait(lock);
      } else {
        m_wake.wait_until(lock, next);
      }
    }
  }

  static constexpr uint64_t kDayMs = 24ull * 3600 * 1000;  // keeps the deadline's sum in range

  const Clock::duration m_headerTime;
  const unsigned m_room;
  const unsigned m_perAddress;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::map<MHD_Connection*, Entry> m_entries;
  bool m_stop = false;
  std::thread m_thread;
};

struct PieceServer::Transfer {
  PieceServer* server;
  std::string sha256;
  std::shared_ptr<SharedFile> file;
  ByteRange range;
  bool holdsSlot;
};

struct PieceServerGlue {
  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                              const char* /*version*/, const char* /*upload*/, size_t* /*uploadSize*/,
                              void** /*state*/) {
    auto* self = static_cast<PieceServer*>(cls);
    if (!self->m_connections->Begin(connection)) {
      MHD_Response* response = Text("busy\n");
      MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "5");
      MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
      return Queue(connection, 503, response);
    }
    const char* rangeValue = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);
    std::string rangeText = rangeValue ? rangeValue : "";
    ServeDecision d = DecideServe(method, url, rangeValue ? &rangeText : nullptr,
                                  [self](const std::string& sha256, PieceMap* map) {
                                    std::shared_ptr<SharedFile> file = self->Find(sha256);
                                    if (!file) return false;
                                    *map = file->Map();
                                    return true;
                                  });
    if (d.kind == ServeDecision::kMap) {
      std::shared_ptr<SharedFile> file = self->Find(d.sha256);
      if (!file) return Plain(connection, 404, "not found\n");
      std::string text = FormatPieceMap(file->Map());
      MHD_Response* response =
          MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
      MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
      MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
      return Queue(connection, 200, response);
    }
    if (d.kind == ServeDecision::kBytes) return StartBytes(self, connection, d, std::strcmp(method, "HEAD") == 0);
    if (d.status == 405) {
      MHD_Response* response = Text("method not allowed\n");
      MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
      return Queue(connection, 405, response);
    }
    if (d.status == 416) {
      MHD_Response* response = Text("range not satisfiable\n");
      std::string all = "bytes */" + std::to_string(d.size);
      MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, all.c_str());
      return Queue(connection, 416, response);
    }
    return Plain(connection, 404, "not found\n");
  }

  static MHD_Result StartBytes(PieceServer* self, MHD_Connection* connection, const ServeDecision& d, bool head) {
    std::shared_ptr<SharedFile> file = self->Find(d.sha256);
    if (!file) return Plain(connection, 404, "not found\n");
    bool slot = false;
    if (!head) {
      std::lock_guard<std::mutex> lock(self->m_mutex);
      if (self->m_paused || self->m_inFlight >= self->m_options.maxPeers) {
        MHD_Response* response = Text("busy\n");
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "5");
        return Queue(connection, 503, response);
      }
      ++self->m_inFlight;
      slot = true;
    }
    auto* t = new PieceServer::Transfer{self, d.sha256, std::move(file), d.range, slot};
    MHD_Response* response =
        MHD_create_response_from_callback(d.range.Length(), 64 * 1024, &ReadBody, t, &FreeTransfer);
    if (response == nullptr) {
      FreeTransfer(t);
      return MHD_NO;
    }
    std::string contentRange = "bytes " + std::to_string(d.range.begin) + "-" + std::to_string(d.range.end - 1) +
                               "/" + std::to_string(d.size);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, contentRange.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/octet-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
    return Queue(connection, 206, response);
  }

  static ssize_t ReadBody(void* cls, uint64_t pos, char* buf, size_t max) {
    auto* t = static_cast<PieceServer::Transfer*>(cls);
    uint64_t left = t->range.Length() - pos;
    size_t want = left < max ? static_cast<size_t>(left) : max;
    size_t n = t->server->Allow(*t, want);
    if (n == 0) return MHD_CONTENT_READER_END_WITH_ERROR;
    uint64_t at = t->range.begin + pos;
    // Checked again at each read: a piece may have been forgotten since the answer began.
    if (!t->file->Map().Covers(at, at + n) || !t->file->Read(at, buf, n)) return MHD_CONTENT_READER_END_WITH_ERROR;
    t->server->m_served += n;
    return static_cast<ssize_t>(n);
  }

  static void FreeTransfer(void* cls) {
    auto* t = static_cast<PieceServer::Transfer*>(cls);
    if (t->holdsSlot) {
      std::lock_guard<std::mutex> lock(t->server->m_mutex);
      --t->server->m_inFlight;
    }
    delete t;
  }

  static void OnConnection(void* cls, MHD_Connection* connection, void** /*context*/,
                           MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<PieceServer*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
      self->m_connections->Closed(connection);
      return;
    }
    const MHD_ConnectionInfo* socket = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (socket == nullptr || peer == nullptr || peer->client_addr == nullptr) return;
    self->m_connections->Started(connection, socket->connect_fd, AddressKey(peer->client_addr));
  }

  static void OnCompleted(void* cls, MHD_Connection* connection, void** /*context*/,
                          MHD_RequestTerminationCode /*code*/) {
    static_cast<PieceServer*>(cls)->m_connections->Ended(connection);
  }

  // The client's address without its port: connections from one host share it.
  static std::string AddressKey(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
      const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
      return std::string(reinterpret_cast<const char*>(&v4->sin_addr), sizeof v4->sin_addr);
    }
    if (address->sa_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
      return std::string(reinterpret_cast<const char*>(&v6->sin6_addr), sizeof v6->sin6_addr);
    }
    return std::string();
  }

  // The path is taken as sent: a hash is plain hex, so no escape can make it name anything else.
  static size_t KeepEscapes(void*, MHD_Connection*, char* uri) { return std::strlen(uri); }

  static MHD_Response* Text(const char* text) {
    return MHD_create_response_from_buffer(std::strlen(text), const_cast<char*>(text), MHD_RESPMEM_PERSISTENT);
  }
  static MHD_Result Plain(MHD_Connection* connection, unsigned status, const char* text) {
    return Queue(connection, status, Text(text));
  }
  static MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response) {
    if (response == nullptr) return MHD_NO;
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
  }
};

PieceServer::PieceServer() = default;

PieceServer::~PieceServer() { Stop(); }

uint64_t PieceServer::Now() const {
  if (m_options.clockMs) return m_options.clockMs();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool PieceServer::Start(const PieceServerOptions& options, std::string* why) {
  Stop();
  m_options = options;
  if (m_options.maxPeers == 0) m_options.maxPeers = 1;
  // A burst of a tenth of a second keeps sends small and even; never below one read.
  uint64_t burst = m_options.uploadBytesPerSecond / 10;
  if (burst < 64 * 1024) burst = 64 * 1024;
  m_bucket = std::make_unique<TokenBucket>(m_options.uploadBytesPerSecond, burst, Now());
  m_stopping = false;
  m_served = 0;

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_options.port);
  if (inet_pton(AF_INET, m_options.bindAddress.c_str(), &address.sin_addr) != 1) {
    if (why) *why = "not an IPv4 address: " + m_options.bindAddress;
    return false;
  }
  // Room beyond the peers for piece maps and quick refusals. The library may hold a few
  // more: connections being closed to make room still count there until they are gone;
  // beyond that, new ones wait to be accepted.
  unsigned connections = m_options.maxPeers + 16;
  m_connections = std::make_unique<Connections>(m_options.headerTimeoutMs, connections,
                                                m_options.maxConnectionsPerAddress);
  m_daemon = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, m_options.port, nullptr, nullptr,
      &PieceServerGlue::OnRequest, this, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
      MHD_OPTION_CONNECTION_LIMIT, connections + 8, MHD_OPTION_CONNECTION_TIMEOUT, 30u,
      MHD_OPTION_NOTIFY_CONNECTION, &PieceServerGlue::OnConnection, this, MHD_OPTION_NOTIFY_COMPLETED,
      &PieceServerGlue::OnCompleted, this, MHD_OPTION_UNESCAPE_CALLBACK, &PieceServerGlue::KeepEscapes, nullptr,
      MHD_OPTION_END);
  if (m_daemon == nullptr) {
    m_connections.reset();
    if (why) *why = "cannot listen on " + m_options.bindAddress + ":" + std::to_string(m_options.port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
  m_port = info ? info->port : 0;
  return true;
}

void PieceServer::Stop() {
  if (m_daemon == nullptr) return;
  m_stopping = true;  // answers waiting for the allowance end now
  MHD_stop_daemon(m_daemon);
  m_daemon = nullptr;
  m_connections.reset();
  m_port = 0;
}

bool PieceServer::Register(const std::string& sha256, std::shared_ptr<SharedFile> file) {
  std::string key = sha256;
  if (!NormalizeSha256Text(&key) || !file) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_files[key] = std::move(file);
  return true;
}

void PieceServer::Unregister(const std::string& sha256) {
  std::string key = sha256;
  if (!NormalizeSha256Text(&key)) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_files.erase(key);
}

std::shared_ptr<SharedFile> PieceServer::Find(const std::string& sha256) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_files.find(sha256);
  return it == m_files.end() ? nullptr : it->second;
}

size_t PieceServer::Allow(const Transfer& t, size_t want) {
  for (;;) {
    // A pause may last as long as a game: the peer fetches elsewhere rather than wait.
    if (m_stopping || m_paused || Find(t.sha256) != t.file) return 0;
    uint64_t wait;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      uint64_t now = Now();
      uint64_t got = m_bucket->Take(want, now);
      if (got > 0) return static_cast<size_t>(got);
      wait = m_bucket->WaitMs(now);
    }
    if (wait == 0) wait = 1;
    if (wait > 20) wait = 20;
    if (m_options.sleepMs) {
      m_options.sleepMs(wait);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
  }
}

}  // namespace p2sp
