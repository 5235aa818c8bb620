#pragma once

// One run of a download, for the files that hold its parts: the run and its
// loop in download_task.cpp, the rest by subject in session_*.cpp.
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "answer.h"
#include "curl_handles.h"
#include "download_task.h"
#include "file_io.h"
#include "links.h"
#include "metalink.h"
#include "pacer.h"
#include "peer_sources.h"
#include "piece_checker.h"
#include "piece_ledger.h"
#include "range_set.h"
#include "segment_scheduler.h"
#include "sharing_hub.h"
#include "side_query.h"
#include "source_book.h"
#include "tail_hasher.h"
#include "worker.h"

namespace p2sp {

using Clock = std::chrono::steady_clock;
// A peer takes half of a server connection's lease when the connection would
// need longer than this for it at its speed, and the half is at least kMinSteal.
inline constexpr double kStealAfter = 4.0;
inline constexpr uint64_t kMinSteal = 256 * 1024;
// How long connections beyond the first wait for the manifest's answer.
inline constexpr auto kManifestWait = std::chrono::seconds(2);
inline constexpr uint64_t kUnknownSize = kUnknownTotal;
inline constexpr const char* kUserAgent = "TarnP2SP/1.0";
// A manifest lists one hash per piece: 4 GiB in 1 KiB pieces would be 4 MiB.
inline constexpr size_t kMaxManifestBytes = 8u << 20;

// Everything one run of a task needs: the curl multi handle, the side file,
// the scheduler and the sources. Lives on the task's thread only.
class Session {
 public:
  enum Result { kComplete, kStopped, kFailed, kCheckFailed };

  explicit Session(DownloadTask& task);
  ~Session();
  uint8_t Run();

 private:
  using Source = SourceBook::Source;
  enum class Mode { kProbe, kRange, kStream };
  struct Conn {
    Session* owner = nullptr;
    int id = 0;
    size_t source = 0;
    CurlEasy easy;
    Mode mode = Mode::kRange;
    uint64_t begin = 0;   // where the current request starts
    uint64_t reqEnd = 0;  // and where it ends (exclusive)
    uint64_t pos = 0;
    uint64_t chunk = Pacer::kFirstChunk;
    Clock::time_point reqStarted;
    Answer answer;
    bool checked = false;
    bool rejected = false;    // answer refused; counts as a failure of the source
    bool modeChange = false;  // refused because the link's server drops ranges: not a failure
    bool reachedEnd = false;  // stopped on purpose: the lease is done or gone
    bool capped = false;      // paused until the speed cap lets it on
    uint64_t socketCap = 0;   // the speed cap its socket was made under
    Clock::time_point lastProgress;
    // Its speed, judged over whole windows (see JudgeSpeeds): the bytes it
    // wrote in all, those at the start of the window, whether the speed cap
    // held it in that window, and the speed of the last whole window (-1: none).
    uint64_t received = 0;
    uint64_t judgedBytes = 0;
    Clock::time_point judgedFrom;
    bool heldInWindow = false;
    double rate = -1;
  };

  Result Transfer();
  bool OpenSideFile();
  bool SetSize(uint64_t size);
  void StartConnections(Clock::time_point now);
  bool Launch(size_t source, Mode mode, const ByteRange& lease, int id);
  bool Request(Conn* c);
  void Finish(Conn* c, CURLcode code);
  void Abort(int id);
  void AbortAll();
  bool Validate(Conn* c);
  size_t OnData(Conn* c, const char* data, size_t size);
  void OnHeader(Conn* c, const char* data, size_t size);
  void Tick(Clock::time_point now);
  void StartSeedQuery(Clock::time_point now);
  void FinishSeedQuery(CURLcode code);
  void StartManifestQuery();
  void FinishManifestQuery(CURLcode code);
  void AdoptManifest(const Manifest& manifest);
  void AddSource(const std::string& url, const char* from);
  bool AssignForSource(size_t source, int id, ByteRange* lease, uint64_t chunk);
  bool StealForPeer(size_t source, int id, ByteRange* lease, Clock::time_point now);
  int SlowLease(size_t thief, uint64_t from, Clock::time_point now) const;
  void JudgeSpeeds(Clock::time_point now);
  void DropSlowPeer(size_t source);
  void BeginSharing();
  void UpdateSharing(Clock::time_point now);
  void EndSharing(bool finished);
  void UpdatePieces();
  void PieceFailed(uint64_t index);
  bool PiecesSettled() const;
  void ForgetManifest();
  void DropResumePending();
  bool FlushRecord(bool background = false);
  void WaitFlusher();
  void FeedHasher();
  std::string CheckText(uint64_t size, bool* ok);
  void CloseFile();
  bool BlameSources(uint64_t checkedFrom);
  void Publish();
  uint64_t TrustedFrom(const Source& s) const;

  void ResumeCapped();
  void AddCandidate(const std::string& path, bool ours);
  bool SetSideFileAside();
  void KeepMatchingPieces();
  void SettleCandidates();
  void RemoveOurCandidates();
  bool GiveUpCandidates();
  void AbortWritersWithin(const ByteRange& r);
  long CapWaitMs();
  static size_t WriteCb(char* data, size_t size, size_t n, void* user);
  static size_t HeaderCb(char* data, size_t size, size_t n, void* user);

  DownloadTask& m_task;
  const TaskOptions& m_opt;
  const std::shared_ptr<SharingHub> m_hub;
  TaskLink m_link;
  std::string m_h1;
  std::string m_sidePath;
  RandomFile m_file;
  SegmentScheduler m_sched;
  bool m_sizeKnown = false;
  bool m_stream = false;
  bool m_streamDone = false;
  bool m_localError = false;
  std::atomic<bool> m_flushFailed{false};
  // Both use m_file and the flag above from their own threads: declared after
  // them, so they are gone first.
  Worker m_disk;
  TailHasher m_hasher{m_file};
  uint64_t m_hashForgotten = 0;
  // With a manifest: every piece checked, and the whole file's SHA-256 read
  // behind the verified pieces.
  PieceChecker m_checker{m_file};
  TailHasher m_wholeHasher{m_file, TailHasher::Kind::kSha256};
  std::unique_ptr<Manifest> m_manifest;
  PieceLedger m_pieces;
  bool m_checkFailed = false;
  // From the record: pieces verified against the manifest of that hash.
  RangeSet m_resumeVerified;
  RangeSet m_resumePending;
  uint64_t m_resumeManifest = 0;
  // The link's file changed size, or its server stopped honouring ranges:
  // forget the size and ask again from the start.
  bool m_restart = false;
  bool m_noRanges = false;
  uint64_t m_sequence = 0;
  uint64_t m_recordedBytes = 0;
  // Length of a side file found without a record, until the size is known.
  uint64_t m_orphanLength = 0;

  CurlMulti m_multi;
  SourceBook m_sources;
  std::map<int, std::unique_ptr<Conn>> m_conns;
  // Files read for pieces of this one once the manifest is in: the file at
  // the target, and the data of a side file whose record was for another
  // file (ours: moved aside by us, removed when read).
  struct Candidate {
    std::string path;
    bool ours = false;
  };
  std::vector<Candidate> m_candidates;
  size_t m_capTurn = 0;  // which paused connection goes on first next time
  int m_nextId = 1;
  Pacer m_pacer;

  SideQuery m_seedQuery{64 * 1024, 10};  // a list of links is small
  SideQuery m_manifestQuery{kMaxManifestBytes, 10};
  bool m_manifestSettled = false;
  Clock::time_point m_manifestAsked{};  // the manifest query has ended, one way or the other
  Clock::time_point m_nextSeedQuery{};

  // Other players: as sources, and as those we serve our verified pieces to.
  PeerSources m_peers{m_sources};
  bool m_pieceOrder = false;  // leases go piece by piece (see AssignForSource)
  std::shared_ptr<SharedDiskFile> m_shared;
  std::string m_sharedSha;
  uint64_t m_sharedVerified = 0;
  std::string m_describedBy;  // the manifest the link's first answer names

  uint64_t m_serverBytes = 0, m_peerBytes = 0;
  uint64_t m_lastServerBytes = 0, m_lastPeerBytes = 0;
  Clock::time_point m_lastSpeed, m_lastRecord;
  uint64_t m_writebackBytes = 0;
  // The task's speed over the last judging window.
  Clock::time_point m_judgedFrom;
  uint64_t m_judgedBytes = 0;
  double m_taskRate = 0;
};

}  // namespace p2sp
