#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "file_io.h"
#include "range_set.h"
#include "token_bucket.h"

struct MHD_Daemon;

namespace p2sp {

// Which pieces of one file are verified, as the piece-map route tells it.
struct PieceMap {
  uint64_t size = 0;
  uint64_t pieceLength = 0;
  std::vector<bool> verified;  // one per piece

  uint64_t PieceCount() const { return pieceLength ? (size + pieceLength - 1) / pieceLength : 0; }
  // True when every byte of [begin, end) lies in a verified piece; false for an
  // empty range and for any byte past the end.
  bool Covers(uint64_t begin, uint64_t end) const;
};

// The text of the piece-map route:
//   pieces 1\n size <bytes>\n piece <piece length>\n map <one '0' or '1' per piece>\n
std::string FormatPieceMap(const PieceMap& map);
// False for anything but that text with a map of exactly the right length.
bool ParsePieceMap(const std::string& text, PieceMap* out);

// A file the server may share. Both calls come from the server's threads at
// any time, so they must be safe to call concurrently.
class SharedFile {
 public:
  virtual ~SharedFile() = default;
  // What is verified now: the server asks again before every read, so a piece
  // that stops being verified stops being served at once.
  virtual PieceMap Map() = 0;
  virtual bool Read(uint64_t offset, void* data, size_t size) = 0;
};

// A file on disk whose verified pieces the owner reports (for example from
// PieceLedger::Verified()). Only whole pieces inside the reported bytes count.
class SharedDiskFile : public SharedFile {
 public:
  SharedDiskFile(uint64_t size, uint64_t pieceLength) : m_size(size), m_pieceLength(pieceLength) {}
  bool Open(const std::string& path);
  void SetVerified(const RangeSet& verified);
  PieceMap Map() override;
  bool Read(uint64_t offset, void* data, size_t size) override;

 private:
  std::mutex m_mutex;
  const uint64_t m_size;
  const uint64_t m_pieceLength;
  std::vector<bool> m_verified;
  RandomFile m_file;
};

// What the server answers to one request, decided before any byte is read.
struct ServeDecision {
  enum Kind { kBytes, kMap, kError } kind = kError;
  int status = 404;
  std::string sha256;  // lower-case, for kBytes and kMap
  ByteRange range;     // for kBytes
  uint64_t size = 0;   // the file's size for Content-Range (206 and 416)
};

// The file named by a path: "/p/<hex>" or "/m/<hex>", exactly 64 hex digits.
// Returns 'p', 'm' or 0 (no such route).
char ParseServePath(const std::string& path, std::string* sha256);
// One byte range "bytes=a-b", "bytes=a-" or "bytes=-n" against a file of
// `size`; the end is cut at the file's end (DecideServe cuts it further, at the piece's end). False when it is malformed, holds
// more than one range or starts past the end.
bool ParseRangeHeader(const std::string& header, uint64_t size, ByteRange* out);
// `map` is the file's map, or null when no file has that hash. `range` is
// null when the request has no Range header.
ServeDecision DecideServe(const std::string& method, const std::string& path, const std::string* range,
                          const std::function<bool(const std::string& sha256, PieceMap* map)>& lookup);

struct PieceServerOptions {
  std::string bindAddress = "0.0.0.0";  // an IPv4 address
  uint16_t port = 0;                    // 0: any free port
  uint64_t uploadBytesPerSecond = 1u << 20;  // over the whole process; 0: no cap
  unsigned maxPeers = 4;                // byte answers in flight at once; the next gets 503
  // A request's headers must be in within this long of the connection's start, or of the
  // end of the answer before it on a kept-alive connection; a slower one is closed. 0: no limit.
  uint64_t headerTimeoutMs = 5000;
  // Players behind one router, or on one machine, share an address: each
  // holds two byte connections and asks for maps beside them. 0: no limit.
  unsigned maxConnectionsPerAddress = 10;
  std::function<uint64_t()> clockMs;    // null: a steady clock
  std::function<void(uint64_t ms)> sleepMs;  // null: the thread sleeps
};

// Serves verified pieces of registered files over HTTP:
//   GET/HEAD /p/<sha256> with one Range starting in a verified piece -> 206 and the bytes
//     of that piece from there (never more than the one piece);
//   a Range starting in an unverified piece (or past the end, or malformed) -> 416;
//   no Range, an unknown hash or any other path -> 404; other methods -> 405;
//   GET /p/ while paused or while maxPeers answers are in flight -> 503;
//   GET/HEAD /m/<sha256> -> 200 and FormatPieceMap of the file.
class PieceServer {
 public:
  PieceServer();
  ~PieceServer();
  PieceServer(const PieceServer&) = delete;
  PieceServer& operator=(const PieceServer&) = delete;

  // False, with a reason, when the port cannot be had.
  bool Start(const PieceServerOptions& options, std::string* why);
  void Stop();
  // The port the server listens on (the one chosen when 0 was asked); 0 when stopped.
  uint16_t Port() const { return m_port; }

  // `sha256` is the hex of the whole file (either case). Replaces an earlier file of that hash.
  bool Register(const std::string& sha256, std::shared_ptr<SharedFile> file);
  // Answers already under way end at their next read.
  void Unregister(const std::string& sha256);
  // While paused no byte of a file leaves: answers under way end at their next read and
  // new ones get 503.
  void SetPaused(bool paused) { m_paused = paused; }
  bool Paused() const { return m_paused; }

  // Bytes of files sent since Start.
  uint64_t BytesServed() const { return m_served; }

 private:
  friend struct PieceServerGlue;
  struct Transfer;
  class Connections;
  std::shared_ptr<SharedFile> Find(const std::string& sha256);
  // Bytes this transfer may send now; waits for the allowance, 0 when it must end.
  size_t Allow(const Transfer& t, size_t want);
  uint64_t Now() const;

  PieceServerOptions m_options;
  MHD_Daemon* m_daemon = nullptr;
  std::unique_ptr<Connections> m_connections;  // lives as long as m_daemon
  uint16_t m_port = 0;
  std::mutex m_mutex;  // guards m_files, m_bucket and m_inFlight
  std::map<std::string, std::shared_ptr<SharedFile>> m_files;
  std::unique_ptr<TokenBucket> m_bucket;
  unsigned m_inFlight = 0;
  std::atomic<bool> m_paused{false};
  std::atomic<bool> m_stopping{false};
  std::atomic<uint64_t> m_served{0};
};

}  // namespace p2sp
