#include "download_task.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <vector>

#include "answer.h"
#include "fault_point.h"
#include "file_io.h"
#include "links.h"
#include "metalink.h"
#include "path_lock.h"
#include "pacer.h"
#include "peer_sources.h"
#include "piece_checker.h"
#include "piece_ledger.h"
#include "progress_record.h"
#include "proxy.h"
#include "range_set.h"
#include "segment_scheduler.h"
#include "sharing_hub.h"
#include "side_query.h"
#include "source_book.h"
#include "tail_hasher.h"
#include "text.h"
#include "tls_check.h"
#include "trace.h"
#include "verify/md5.h"
#include "worker.h"

namespace p2sp {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kUnknownSize = kUnknownTotal;
constexpr int kMaxSeedSources = 8;
// Written data is pushed towards the disk in steps of this size, so the flushes
// before each record and before the rename find little left to do.
constexpr uint64_t kWritebackStep = 16u << 20;
constexpr const char* kUserAgent = "TarnP2SP/1.0";
// A manifest lists one hash per piece: 4 GiB in 1 KiB pieces would be 4 MiB.
constexpr size_t kMaxManifestBytes = 8u << 20;
// The seed service forgets a peer not heard for 10 minutes.
constexpr auto kSeedRefresh = std::chrono::minutes(4);
// A player that turned us away is asked again after this.
constexpr auto kPeerBusyPause = std::chrono::seconds(2);

}  // namespace

std::string SidePath(const std::string& target) { return target + ".P2P"; }

std::string ComputeH1Text(const std::string& path, uint64_t size, bool* ok) {
  *ok = false;
  RandomFile file;
  if (!file.Open(path, false)) return {};
  return ComputeH1Text(file, size, ok);
}

std::string ComputeH1Text(RandomFile& file, uint64_t size, bool* ok) {
  *ok = false;
  uint64_t begin = engine_contract::Md5RangeStart(size);
  std::vector<char> buffer(1 << 20);
  Md5 md5;
  for (uint64_t pos = begin; pos < size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - pos));
    if (!file.ReadAt(pos, buffer.data(), n)) return {};
    md5.Update(buffer.data(), n);
    pos += n;
  }
  *ok = true;
  return FormatMd5Text(md5.Final());
}

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
    Clock::time_point lastProgress;
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
  bool AssignForSource(size_t source, int id, ByteRange* lease);
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
  int m_nextId = 1;
  Pacer m_pacer;

  SideQuery m_seedQuery{64 * 1024, 10};  // a list of links is small
  SideQuery m_manifestQuery{kMaxManifestBytes, 10};
  bool m_manifestSettled = false;  // the manifest query has ended, one way or the other
  Clock::time_point m_nextSeedQuery{};

  // Other players: as sources, and as those we serve our verified pieces to.
  PeerSources m_peers{m_sources};
  bool m_peerOrder = false;  // pieces are handed out rarest first
  std::shared_ptr<SharedDiskFile> m_shared;
  std::string m_sharedSha;
  uint64_t m_sharedVerified = 0;
  std::string m_describedBy;  // the manifest the link's first answer names

  uint64_t m_serverBytes = 0, m_peerBytes = 0;
  uint64_t m_lastServerBytes = 0, m_lastPeerBytes = 0;
  Clock::time_point m_lastSpeed, m_lastRecord;
  uint64_t m_writebackBytes = 0;
};

Session::Session(DownloadTask& task)
    : m_task(task),
      m_opt(task.m_options),
      m_hub(task.m_hub),
      m_link(ParseTaskLink(task.m_link)),
      m_sources(m_link.url, m_opt.retries),
      m_pacer(m_opt.initialConnections, m_opt.maxConnections) {
  m_h1 = m_link.h1;
  m_sidePath = SidePath(task.m_target);
  m_multi.reset(curl_multi_init());
}

Session::~Session() {
  WaitFlusher();
  AbortAll();
  m_seedQuery.Cancel();
  m_manifestQuery.Cancel();
  m_peers.CancelAll();
  EndSharing(false);
}

void Session::Publish() {
  m_task.m_total = m_sizeKnown ? m_sched.FileSize() : 0;
  uint64_t done = m_sched.Done().Covered();
  if (!m_sizeKnown) done = m_stream ? m_sched.Done().Covered() : 0;
  m_task.m_done = done;
}

uint8_t Session::Run() {
  if (!m_link.valid || !m_multi || m_task.m_target.empty()) return kStateFailedDownload;
  Debug("task %s -> %s", m_link.url.c_str(), m_task.m_target.c_str());
  if (!OpenSideFile()) return kStateFailedDownload;
  for (;;) {
    Result r = Transfer();
    m_task.m_serverSpeed = 0;
    m_task.m_peerSpeed = 0;
    if (r == kCheckFailed) {
      // The link's own server keeps serving a piece that does not match.
      CloseFile();
      RemoveFile(m_sidePath);
      return kStateFailedCheck;
    }
    if (r != kComplete) {
      if (m_sizeKnown && !m_localError) FlushRecord();
      CloseFile();
      return r == kStopped ? kStateRunning : kStateFailedDownload;
    }
    uint64_t size = m_sched.FileSize();
    Debug("all %llu bytes are in", static_cast<unsigned long long>(size));
    WaitFlusher();
    // The data must be on disk before the file takes the target's name; the
    // flush runs while the check reads the same (cached) bytes.
    bool synced = false;
    m_disk.Post([this, &synced] { synced = m_file.Sync(); });
    bool ok = true;
    std::string text = m_h1.empty() ? std::string() : CheckText(size, &ok);
    std::string whole;
    if (ok && m_manifest) {
      if (!m_wholeHasher.Active(0, size)) m_wholeHasher.Restart(0, size);
      m_wholeHasher.Allow(size);
      whole = m_wholeHasher.Finish(&ok);
    }
    Debug("hashed");
    m_disk.Wait();
    Debug("flushed");
    if (!synced || !ok) {
      CloseFile();
      return kStateFailedDownload;
    }
    if (m_manifest && whole != m_manifest->sha256) {
      // Every piece matched, the whole does not: the manifest contradicts
      // itself, and nothing proves the file right.
      Debug("whole-file SHA-256 %s, manifest says %s", whole.c_str(), m_manifest->sha256.c_str());
      CloseFile();
      RemoveFile(m_sidePath);
      return kStateFailedCheck;
    }
    if (!m_h1.empty() && text != m_h1) {
      // Fetch again, from the task's own link, whatever other sources gave.
      if (BlameSources(engine_contract::Md5RangeStart(size))) {
        Publish();
        continue;
      }
      // Proven wrong: keeping it would only make the next try resume into it.
      CloseFile();
      RemoveFile(m_sidePath);
      return kStateFailedCheck;
    }
    Debug("checked");
    m_hasher.Stop();
    ok = m_file.Truncate(size) && m_file.Sync();
    CloseFile();
    FaultPoint("before-rename");
    if (!ok || !RenameReplacing(m_sidePath, m_task.m_target)) return kStateFailedDownload;
    EndSharing(true);
    Debug("renamed%s", m_manifest ? (", " + std::to_string(m_pieces.Checked()) + " pieces checked").c_str() : "");
    return kStateFinished;
  }
}

void Session::CloseFile() {
  m_hasher.Stop();
  m_wholeHasher.Stop();
  m_checker.Stop();
  WaitFlusher();
  m_file.Close();
}

// The h1 check reads the last kH1TailBytes in order. While ranges arrive, that
// part is fetched first and hashed behind the arriving bytes; whatever makes
// hashed bytes stale (a restart, bytes fetched again) starts the hash over.
void Session::FeedHasher() {
  if (m_manifest && m_sizeKnown && !m_localError) {
    uint64_t size = m_sched.FileSize();
    if (!m_wholeHasher.Active(0, size)) m_wholeHasher.Restart(0, size);
    m_wholeHasher.Allow(m_pieces.Verified().RunEnd(0));
  }
  if (m_h1.empty() || !m_sizeKnown || m_stream || m_localError) return;
  uint64_t size = m_sched.FileSize();
  if (size == kUnknownSize || size <= kH1TailBytes) return;
  uint64_t begin = size - kH1TailBytes;
  m_sched.PreferFrom(begin);
  if (m_hashForgotten != m_sched.Forgotten() || !m_hasher.Active(begin, size)) {
    m_hashForgotten = m_sched.Forgotten();
    m_hasher.Restart(begin, size);
  }
  m_hasher.Allow(m_sched.Done().RunEnd(begin));
}

std::string Session::CheckText(uint64_t size, bool* ok) {
  uint64_t begin = engine_contract::Md5RangeStart(size);
  if (!m_stream && m_hashForgotten == m_sched.Forgotten() && m_hasher.Active(begin, size) &&
      m_sched.Done().Contains(begin, size)) {
    std::string text = m_hasher.Finish(ok);
    if (*ok) return text;
  }
  m_hasher.Stop();
  return ComputeH1Text(m_file, size, ok);
}

bool Session::OpenSideFile() {
  if (!m_file.Open(m_sidePath, true)) return false;
  uint64_t length = m_file.Size();
  if (length >= ProgressRecord::kAreaSize) {
    std::vector<uint8_t> area(ProgressRecord::kAreaSize);
    ProgressRecord rec;
    if (m_file.ReadAt(length - area.size(), area.data(), area.size()) &&
        DecodeRecordArea(area.data(), area.size(), &rec) && rec.fileSize + ProgressRecord::kAreaSize == length &&
        rec.linkHash == HashLink(m_link.url) && (m_h1.empty() || rec.h1.empty() || rec.h1 == m_h1)) {
      // A resumed task may come with the plain link; the check it was made
      // with still applies.
      if (m_h1.empty()) m_h1 = rec.h1;
      m_sched.Reset(rec.fileSize);
      for (const auto& r : rec.done) m_sched.MarkDone(r.begin, r.end);
      m_sequence = rec.sequence;
      for (const auto& r : rec.verified) m_resumeVerified.Add(r.begin, r.end);
      // Extra sources' bytes of pieces not yet verified: held as done until
      // the manifest is in, which checks them with their pieces; without it
      // they are fetched again.
      for (const auto& r : rec.pending) {
        m_resumePending.Add(r.begin, r.end);
        m_sched.MarkDone(r.begin, r.end);
      }
      m_resumeManifest = rec.manifestHash;
      m_sizeKnown = true;
      m_recordedBytes = m_sched.Done().Covered();
      Debug("resuming: %llu bytes done, %llu verified", static_cast<unsigned long long>(m_recordedBytes),
            static_cast<unsigned long long>(m_resumeVerified.Covered()));
      Publish();
      return true;
    }
    Debug("the side file's record is not usable");
  }
  // No record. The record is cut off only after the file passed its check and
  // just before the rename, so a side file of exactly the size the server names
  // is a complete file whose rename a kill prevented: keep it until the size is
  // known (SetSize), and start over only if it is not that.
  m_orphanLength = length;
  return true;
}

bool Session::SetSize(uint64_t size) {
  // Neither a flush in flight nor a hash may touch the file as it is laid out anew.
  m_hasher.Stop();
  ForgetManifest();
  WaitFlusher();
  m_sched.Reset(size);
  m_sizeKnown = true;
  uint64_t orphan = m_orphanLength;
  m_orphanLength = 0;
  if (orphan > 0 && orphan == size) {
    // Checked again before the rename like any finished file.
    Debug("the side file is complete: %llu bytes", static_cast<unsigned long long>(size));
    m_sched.MarkDone(0, size);
    Publish();
    return true;
  }
  if (!m_file.Truncate(0) || !m_file.Allocate(size + ProgressRecord::kAreaSize)) {
    m_localError = true;
    return false;
  }
  if (!FlushRecord()) return false;
  Publish();
  return true;
}

bool Session::FlushRecord(bool background) {
  if (!m_sizeKnown || !m_file.IsOpen()) return true;
  WaitFlusher();
  if (m_localError) return false;
  // What is written now; bytes that arrive while the flush runs are left for
  // the next record.
  ProgressRecord rec;
  rec.sequence = ++m_sequence;
  rec.fileSize = m_sched.FileSize();
  rec.linkHash = HashLink(m_link.url);
  rec.h1 = m_h1;
  if (m_manifest || m_resumePending.Covered() > 0) {
    // Bytes of extra sources count only once their piece matched; a record
    // may claim less than is there, never more than is proven.
    RangeSet done = m_sched.Done();
    RangeSet pending = m_resumePending;
    for (const auto& r : m_resumePending.Ranges()) done.Remove(r.begin, r.end);
    for (const Source& s : m_sources) {
      if (s.primary) continue;
      RangeSet unproven = s.wrote;
      for (const auto& v : m_pieces.Verified().Ranges()) unproven.Remove(v.begin, v.end);
      for (const auto& u : unproven.Ranges()) {
        done.Remove(u.begin, u.end);
        pending.Add(u.begin, u.end);
      }
    }
    rec.done = done.Ranges();
    rec.pending = pending.Ranges();
    rec.verified = m_pieces.Verified().Ranges();
    rec.manifestHash = m_manifest ? HashLink(m_manifest->sha256) : m_resumeManifest;
  } else {
    rec.done = m_sched.Done().Ranges();
  }
  auto slot = std::make_shared<std::vector<uint8_t>>(EncodeRecordSlot(rec));
  uint64_t at = rec.fileSize + (rec.sequence % 2) * ProgressRecord::kSlotSize;
  m_recordedBytes = m_sched.Done().Covered();
  m_lastRecord = Clock::now();
  // Data first, so the record never claims bytes that a power cut could lose.
  auto work = [this, slot, at] {
    if (!m_file.Sync() || !m_file.WriteAt(at, slot->data(), slot->size())) m_flushFailed = true;
  };
  // The flush can take a while on a slow disk; in the background the transfer
  // goes on meanwhile.
  m_disk.Post(work);
  if (background) return true;
  WaitFlusher();
  return !m_localError;
}

void Session::WaitFlusher() {
  m_disk.Wait();
  if (m_flushFailed) m_localError = true;
}

Session::Result Session::Transfer() {
  m_lastSpeed = m_lastRecord = Clock::now();
  m_pacer.Start(m_lastSpeed, m_serverBytes + m_peerBytes);
  for (;;) {
    if (m_task.m_stop) {
      AbortAll();
      return kStopped;
    }
    if (m_localError) {
      AbortAll();
      return kFailed;
    }
    if (m_checkFailed) {
      AbortAll();
      return kCheckFailed;
    }
    if (m_restart) {
      AbortAll();
      ForgetManifest();
      m_restart = false;
      m_stream = false;
      m_sizeKnown = false;
      m_sched.Reset(0);
      m_hasher.Stop();
      WaitFlusher();
      m_orphanLength = 0;
      if (!m_file.Truncate(0)) return kFailed;
      Publish();
    }
    if (m_sizeKnown && m_sched.Complete() && PiecesSettled() && (!m_stream || m_streamDone || m_conns.empty())) {
      AbortAll();
      Publish();
      return kComplete;
    }
    if (m_stream && m_streamDone) {
      AbortAll();
      Publish();
      return kComplete;
    }
    Clock::time_point now = Clock::now();
    // Not from inside a curl callback: the multi handle refuses new transfers there.
    if (m_sizeKnown) StartSeedQuery(now);
    if (m_sizeKnown && !m_stream) StartManifestQuery();
    UpdatePieces();
    FeedHasher();
    StartConnections(now);
    if (m_conns.empty() && !m_sources.AnyAlive()) return kFailed;
    int running = 0;
    curl_multi_perform(m_multi.get(), &running);
    int left = 0;
    bool finished = false;
    while (CURLMsg* msg = curl_multi_info_read(m_multi.get(), &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      finished = true;
      if (m_seedQuery.Owns(msg->easy_handle)) {
        FinishSeedQuery(msg->data.result);
        continue;
      }
      if (m_manifestQuery.Owns(msg->easy_handle)) {
        FinishManifestQuery(msg->data.result);
        continue;
      }
      if (m_peers.Owns(msg->easy_handle)) {
        m_peers.Finish(msg->easy_handle, msg->data.result, Clock::now());
        continue;
      }
      Conn* conn = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&conn));
      if (conn) Finish(conn, msg->data.result);
    }
    Tick(Clock::now());
    // A transfer that ended may have completed the file or freed a connection
    // for more work: see to that before waiting for the sockets.
    // Only the piece checks left: their verdicts come from another thread.
    bool checking = m_sizeKnown && m_sched.Complete() && !PiecesSettled();
    if (!finished) curl_multi_poll(m_multi.get(), nullptr, 0, checking ? 2 : 50, nullptr);
  }
}

void Session::StartConnections(Clock::time_point now) {
  if (!m_sizeKnown || m_stream) {
    // One stream at a time until the size is known, and for servers without ranges.
    if (!m_conns.empty() || m_streamDone) return;
    if (!m_sources.MayConnect(0, now)) return;
    Launch(0, m_sizeKnown ? Mode::kStream : Mode::kProbe, {0, kUnknownSize}, m_nextId++);
    return;
  }
  if (m_sched.Complete()) return;
  // Sources with nothing they may fetch this round.
  std::vector<bool> idle(m_sources.Size(), false);
  for (;;) {
    int pick = m_sources.Pick(m_pacer.PerSource(), idle, now);
    if (pick < 0) return;
    const uint64_t from = TrustedFrom(m_sources[pick]);
    int id = m_nextId++;
    ByteRange lease;
    if (!AssignForSource(static_cast<size_t>(pick), id, &lease)) {
      if (m_sources[pick].peer) {
        idle[pick] = true;  // it holds nothing we still need
        continue;
      }
      // Nothing to split: take over a connection that went quiet in the middle
      // of its answer. One still waiting for its first byte is left to the
      // stall timeout, or a slow server would see its requests moved forever.
      int victim = -1;
      for (const auto& c : m_conns) {
        if (c.second->mode == Mode::kRange && m_sched.HasLease(c.first) && c.second->pos >= from &&
            Pacer::MayTakeOver(c.second->pos > c.second->begin, c.second->lastProgress, now)) {
          victim = c.first;
          break;
        }
      }
      if (victim < 0 || !m_sched.TakeOver(id, victim, &lease)) {
        idle[pick] = true;
        continue;
      }
      Debug("conn %d takes over the lease of quiet conn %d", id, victim);
      Abort(victim);
    }
    if (!Launch(static_cast<size_t>(pick), Mode::kRange, lease, id)) {
      m_sched.Release(id);
      return;
    }
  }
}

// A peer is asked only for pieces its map holds, the rarest first. Once any
// peer's map is known the link's server and mirrors take whole pieces too,
// those no peer holds first, in an order of this process's own, so that
// players starting together fetch different pieces and then trade them.
bool Session::AssignForSource(size_t source, int id, ByteRange* lease) {
  const Source& s = m_sources[source];
  if (s.peer) return m_sched.AssignAmong(id, m_peers.PiecesFor(source, m_sched.Done()), lease);
  if (m_peerOrder && m_sched.AssignAmong(id, m_peers.PiecesForServers(m_sched.Done()), lease)) return true;
  return m_sched.Assign(id, lease, TrustedFrom(s));
}

// Where a source's bytes may go. The link's server is the authority; bytes of
// other sources are taken only where a check covers them, so that a failed
// check can find and replace them.
uint64_t Session::TrustedFrom(const Source& s) const {
  if (s.primary || m_manifest) return 0;
  uint64_t size = m_sched.FileSize();
  if (m_h1.empty()) return size;
  return engine_contract::Md5RangeStart(size);
}

bool Session::Launch(size_t sourceIndex, Mode mode, const ByteRange& lease, int id) {
  auto c = std::make_unique<Conn>();
  c->owner = this;
  c->id = id;
  c->source = sourceIndex;
  c->mode = mode;
  c->begin = c->pos = lease.begin;
  c->lastProgress = Clock::now();
  for (const auto& other : m_conns) c->chunk = std::max(c->chunk, other.second->chunk);
  c->easy.reset(curl_easy_init());
  if (!c->easy) return false;
  CURL* e = c->easy.get();
  const Source& s = m_sources[sourceIndex];
  curl_easy_setopt(e, CURLOPT_URL, s.url.c_str());
  curl_easy_setopt(e, CURLOPT_PRIVATE, c.get());
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Session::WriteCb);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, c.get());
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Session::HeaderCb);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, c.get());
  // Redirects keep the Range header, so a resume survives them.
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_opt.connectSeconds));
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_opt.stallSeconds));
  curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  RequireVerifiedServer(e);
  if (s.peer) {
    curl_easy_setopt(e, CURLOPT_PROXY, "");  // players answer directly
  } else {
    std::string proxy = m_opt.proxy.empty() ? SystemProxyFor(s.url) : m_opt.proxy;
    if (!proxy.empty()) curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());
  }
  Conn* conn = c.get();
  m_sources.Connected(sourceIndex);
  m_conns[id] = std::move(c);
  if (!Request(conn)) {
    Abort(id);
    return false;
  }
  return true;
}

bool Session::Request(Conn* c) {
  c->begin = c->pos;
  c->answer = Answer();
  c->checked = c->rejected = c->reachedEnd = c->modeChange = false;
  c->reqStarted = Clock::now();
  std::string range;
  if (c->mode == Mode::kProbe) {
    // Bounded, so that this connection can be split like any other once the
    // answer names the size.
    if (!m_noRanges) range = "0-" + std::to_string(c->chunk - 1);
    c->reqEnd = c->chunk;
  } else if (c->mode == Mode::kRange) {
    ByteRange lease = m_sched.LeaseOf(c->id);
    // Bytes asked for cannot be split off. Near the end a long request would
    // leave its connection fetching alone while the others sit idle, so none
    // asks for more than its share of what is still missing.
    uint64_t missing = m_sched.FileSize() - m_sched.Done().Covered();
    uint64_t ask = m_pacer.Ask(c->chunk, missing, m_conns.size());
    c->reqEnd = std::min(lease.end, c->pos + ask);
    range = std::to_string(c->pos) + "-" + std::to_string(c->reqEnd - 1);
    m_sched.Commit(c->id, c->reqEnd);
  } else {
    c->reqEnd = kUnknownSize;
  }
  curl_easy_setopt(c->easy.get(), CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());  // curl copies it
  return curl_multi_add_handle(m_multi.get(), c->easy.get()) == CURLM_OK;
}

void Session::Abort(int id) {
  auto it = m_conns.find(id);
  if (it == m_conns.end()) return;
  Conn* c = it->second.get();
  curl_multi_remove_handle(m_multi.get(), c->easy.get());
  c->easy.reset();
  m_sources.Disconnected(c->source);
  if (m_sched.HasLease(id)) m_sched.Release(id);
  m_conns.erase(it);
}

void Session::AbortAll() {
  while (!m_conns.empty()) Abort(m_conns.begin()->first);
}

void Session::Finish(Conn* c, CURLcode code) {
  int id = c->id;
  const Source& s = m_sources[c->source];
  bool progressed = c->pos > c->begin;
  long status = 0;
  curl_easy_getinfo(c->easy.get(), CURLINFO_RESPONSE_CODE, &status);
  Clock::time_point now = Clock::now();
  if (c->mode == Mode::kProbe && !c->checked && code == CURLE_OK && status == 416 && c->answer.range.valid &&
      c->answer.range.total == 0) {
    // An empty file: nothing to fetch, and ranges cannot even start.
    Abort(id);
    if (SetSize(0)) m_sizeKnown = true;
    return;
  }
  if (!c->checked && !c->rejected && code == CURLE_OK) {
    // An answer without a body: judge it now, so an empty file completes and an
    // error page without text still counts as a failure.
    c->checked = true;
    if (!Validate(c)) c->rejected = true;
  }
  bool ok = !c->rejected && (c->reachedEnd || (code == CURLE_OK && c->checked));
  if (ok && c->mode == Mode::kStream && !c->reachedEnd) {
    if (!m_sizeKnown || m_sched.FileSize() == kUnknownSize) {
      uint64_t size = c->pos;
      Abort(id);
      m_sched.Reset(size);
      m_sched.MarkDone(0, size);
      m_sizeKnown = true;
      m_streamDone = true;
      Publish();
      return;
    }
    if (c->pos == m_sched.FileSize())
      m_streamDone = true;
    else
      ok = false;
  }
  if (ok && progressed) {
    c->chunk = Pacer::NextChunk(c->pos - c->begin, std::chrono::duration<double>(now - c->reqStarted).count());
  }
  if (ok && c->mode == Mode::kRange && !c->reachedEnd && m_sched.HasLease(id) && m_sched.LeaseOf(id).Length() > 0) {
    // The same connection goes on with the rest of its lease; curl keeps the
    // socket open between the requests.
    curl_multi_remove_handle(m_multi.get(), c->easy.get());
    if (Request(c)) return;
  }
  Debug("conn %d %s: curl %d, http %ld, %llu bytes%s%s", id, s.url.c_str(), static_cast<int>(code), status,
        static_cast<unsigned long long>(c->pos - c->begin), c->rejected ? ", refused" : "",
        c->reachedEnd ? ", lease ended" : "");
  const bool modeChange = c->modeChange;
  const size_t source = c->source;
  const Clock::time_point asked = c->reqStarted;
  Abort(id);  // c is gone from here on
  if (m_localError) return;
  if (ok) return;
  if (!m_sources[source].alive || modeChange) return;
  if (m_sources[source].peer) {
    // A player serves only what its map holds; one that turns us away
    // serves others now. Anything else ends it for this run.
    if (status == 503)
      m_sources.Busy(source, now + kPeerBusyPause);
    else
      m_sources.Drop(source, "it did not serve a piece of its map");
    return;
  }
  m_sources.Failed(source, asked, now);
}

bool Session::Validate(Conn* c) {
  const Source& s = m_sources[c->source];
  AnswerContext context;
  context.probe = c->mode == Mode::kProbe;
  context.stream = c->mode == Mode::kStream;
  context.linkServer = s.primary;
  context.asked = c->begin;
  context.size = m_sched.FileSize();
  context.soleFromStart = c->begin == 0 && m_conns.size() == 1;
  const Answer& a = c->answer;
  switch (Judge(a, context)) {
    case Verdict::kTake:
      m_sources.Verified(c->source);
      return true;
    case Verdict::kLearnSize: {
      m_describedBy = a.describedBy;
      if (!SetSize(a.range.total)) return false;
      if (m_sched.Complete()) {
        c->reachedEnd = true;  // the file is here already
        return true;
      }
      ByteRange lease;
      if (!m_sched.Assign(c->id, &lease) || lease.begin != 0) return false;
      m_sched.Commit(c->id, c->reqEnd);
      c->mode = Mode::kRange;
      m_sources.Verified(c->source);
      return true;
    }
    case Verdict::kStream:
      m_stream = true;
      c->mode = Mode::kStream;
      if (a.hasLength && !a.chunked) {
        if (!SetSize(a.length)) return false;
        if (m_sched.Complete()) {
          c->reachedEnd = true;
          return true;
        }
      } else {
        m_sizeKnown = false;
        m_sched.Reset(kUnknownSize);
        m_hasher.Stop();
        WaitFlusher();
        m_orphanLength = 0;
        if (!m_file.Truncate(0)) {
          m_localError = true;
          return false;
        }
      }
      c->pos = 0;
      return true;
    case Verdict::kOtherFile:
      if (s.primary)
        m_restart = true;  // the link's file changed
      else
        m_sources.Drop(c->source, "it serves a different file");
      return false;
    case Verdict::kNoRanges:
      if (s.primary) {
        // A ranged request answered whole: drop everything running and go on
        // as one stream from the start. Every connection open now may get
        // such an answer at once; none of them counts against the server.
        m_noRanges = true;
        m_restart = true;
        c->modeChange = true;
      } else {
        m_sources.Drop(c->source, "it does not honour ranges");
      }
      return false;
    case Verdict::kRefuse:
      break;
  }
  return false;
}

size_t Session::OnData(Conn* c, const char* data, size_t size) {
  if (!c->checked) {
    c->checked = true;
    if (!Validate(c)) {
      c->rejected = true;
      return 0;
    }
  }
  if (c->reachedEnd || m_task.m_stop) return 0;
  uint64_t take = size;
  if (c->mode == Mode::kRange) {
    take = m_sched.Accept(c->id, c->pos, size);
    if (take == 0) {
      c->reachedEnd = true;
      return 0;
    }
  } else if (m_sched.FileSize() != kUnknownSize) {
    if (c->pos + size > m_sched.FileSize()) {
      c->rejected = true;  // longer than it said
      return 0;
    }
  }
  if (!m_file.WriteAt(c->pos, data, static_cast<size_t>(take))) {
    m_localError = true;
    return 0;
  }
  m_sched.Written(c->id, c->pos, take);
  c->lastProgress = Clock::now();
  m_sources.Wrote(c->source, c->pos, c->pos + take, c->lastProgress);
  (m_sources[c->source].primary ? m_serverBytes : m_peerBytes) += take;
  if (m_sources[c->source].peer) m_task.m_peerBytes += take;
  c->pos += take;
  if (take < size) {
    c->reachedEnd = true;
    return 0;
  }
  return size;
}

void Session::OnHeader(Conn* c, const char* data, size_t size) { c->answer.Feed(std::string(data, size)); }

size_t Session::WriteCb(char* data, size_t size, size_t n, void* user) {
  Conn* c = static_cast<Conn*>(user);
  return c->owner->OnData(c, data, size * n);
}

size_t Session::HeaderCb(char* data, size_t size, size_t n, void* user) {
  Conn* c = static_cast<Conn*>(user);
  c->owner->OnHeader(c, data, size * n);
  return size * n;
}

// After the manifest query, so that the seed service hears the file's
// SHA-256 and our sharing port; with a manifest it is asked again now and
// then, which keeps us in its book of peers and names newcomers.
void Session::StartSeedQuery(Clock::time_point now) {
  if (m_opt.seedUrl.empty() || !m_sizeKnown || !(m_manifestSettled || m_stream)) return;
  if (m_seedQuery.Started()) {
    if (!m_manifest || m_seedQuery.Running() || now < m_nextSeedQuery) return;
    m_seedQuery.Reset();
  }
  m_nextSeedQuery = now + kSeedRefresh;
  const std::string sha = m_manifest ? m_manifest->sha256 : std::string();
  const uint16_t port = m_manifest && m_hub ? m_hub->Port() : 0;
  std::string url = SeedQueryUrl(m_opt.seedUrl, m_h1, FileNameOfUrl(m_link.url), m_sched.FileSize(), sha, port);
  Debug("asking the seed service: %s", url.c_str());
  m_seedQuery.Start(m_multi.get(), url, m_opt.proxy.empty() ? SystemProxyFor(url) : m_opt.proxy, kUserAgent);
}

void Session::FinishSeedQuery(CURLcode code) {
  long status = m_seedQuery.Finish(code);
  Debug("seed service: curl %d, http %ld, %zu bytes", static_cast<int>(code), status, m_seedQuery.Body().size());
  if (status != 200) return;  // the link alone, as before
  for (const std::string& url : ParseSeedAnswer(m_seedQuery.Body(), kMaxSeedSources)) AddSource(url, "seed service");
  for (const PeerAddress& peer : ParseSeedPeers(m_seedQuery.Body(), kMaxSeedSources)) m_peers.Add(peer, false);
}

void Session::AddSource(const std::string& url, const char* from) {
  if (!m_sources.Add(url, 2 * kMaxSeedSources)) return;
  Debug("extra source %s (%s)", url.c_str(), from);
}

// The manifest sits beside the file on the link's own server, unless the
// link's answer names another place.
void Session::StartManifestQuery() {
  if (m_manifestQuery.Started() || m_sched.FileSize() == kUnknownSize) return;
  std::string url = m_describedBy.empty() ? std::string() : ResolveUrl(m_link.url, m_describedBy);
  if (url.empty()) {
    url = m_link.url.substr(0, m_link.url.find_first_of("?#"));
    url += ".meta4";
  }
  Debug("asking for a manifest: %s", url.c_str());
  if (!m_manifestQuery.Start(m_multi.get(), url, m_opt.proxy.empty() ? SystemProxyFor(url) : m_opt.proxy,
                             kUserAgent))
    m_manifestSettled = true;
}

void Session::FinishManifestQuery(CURLcode code) {
  long status = m_manifestQuery.Finish(code);
  m_manifestSettled = true;
  Manifest manifest;
  std::string why;
  if (status != 200) {
    Debug("no manifest: curl %d, http %ld", static_cast<int>(code), status);
  } else if (!ParseMetalink(m_manifestQuery.Body(), &manifest, &why)) {
    Debug("manifest ignored: %s", why.c_str());
  } else if (!m_sizeKnown || manifest.size != m_sched.FileSize()) {
    Debug("manifest ignored: it names %llu bytes, the link's file has %llu",
          static_cast<unsigned long long>(manifest.size), static_cast<unsigned long long>(m_sched.FileSize()));
  } else {
    AdoptManifest(manifest);
    return;
  }
  DropResumePending();
}

void Session::AdoptManifest(const Manifest& manifest) {
  m_manifest = std::make_unique<Manifest>(manifest);
  const uint64_t count = m_manifest->PieceCount();
  m_pieces.Reset(m_manifest.get());
  // Pieces the record marks verified against this very manifest are trusted
  // as they are; every other done piece is read and checked again.
  uint64_t trusted = 0;
  if (m_resumeManifest == HashLink(m_manifest->sha256)) {
    m_resumePending.Clear();  // checked with their pieces like any other bytes
    trusted = m_pieces.Trust(m_resumeVerified, m_sched.Done());
  }
  m_resumeVerified.Clear();
  DropResumePending();
  Debug("manifest: %llu pieces of %llu bytes, %zu mirrors, %llu verified before",
        static_cast<unsigned long long>(count), static_cast<unsigned long long>(m_manifest->pieceLength),
        m_manifest->urls.size(), static_cast<unsigned long long>(trusted));
  for (const std::string& url : m_manifest->urls) {
    if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0) AddSource(url, "manifest");
  }
  BeginSharing();
}

void Session::BeginSharing() {
  if (!m_hub || !m_manifest) return;
  m_peers.Begin(m_manifest->sha256, m_manifest->size, m_manifest->pieceLength, std::random_device()());
  m_sharedSha = m_manifest->sha256;
  m_hub->Want(m_sharedSha, true);
  auto shared = std::make_shared<SharedDiskFile>(m_manifest->size, m_manifest->pieceLength);
  if (!shared->Open(m_sidePath)) return;
  shared->SetVerified(m_pieces.Verified());
  m_sharedVerified = m_pieces.Verified().Covered();
  m_shared = shared;
  m_hub->Offer(m_sharedSha, m_shared);
}

// The verified pieces grow in the map others see; players heard nearby
// become sources; the order of pieces changes once a peer's map is in.
void Session::UpdateSharing(Clock::time_point now) {
  if (m_shared && m_pieces.Verified().Covered() != m_sharedVerified) {
    m_shared->SetVerified(m_pieces.Verified());
    m_sharedVerified = m_pieces.Verified().Covered();
  }
  if (!m_sharedSha.empty())
    for (const PeerAddress& peer : m_hub->TakeHeard(m_sharedSha)) m_peers.Add(peer, true);
  m_peers.StartQueries(m_multi.get(), now, kUserAgent);
  if (!m_peerOrder && m_peers.AnyMap()) {
    // What the connections have not asked for yet is handed out anew.
    m_peerOrder = true;
    m_sched.TrimLeases();
    Debug("peers known: pieces go rarest first");
  }
}

// `finished`: the target holds the whole file now, every piece verified; it
// is served until the engine stops, through the same open file, so that
// answers under way go on.
void Session::EndSharing(bool finished) {
  if (m_sharedSha.empty()) return;
  if (finished && m_shared && m_manifest) {
    RangeSet all;
    all.Add(0, m_manifest->size);
    m_shared->SetVerified(all);
  } else {
    m_hub->Withdraw(m_sharedSha);
  }
  m_hub->Want(m_sharedSha, false);
  m_shared.reset();
  m_sharedSha.clear();
}

// Pending bytes of an earlier run that no manifest of the same hash will check.
void Session::DropResumePending() {
  if (m_resumePending.Covered() == 0) return;
  Debug("fetching again %llu unchecked bytes of extra sources",
        static_cast<unsigned long long>(m_resumePending.Covered()));
  for (const auto& r : m_resumePending.Ranges()) m_sched.MarkMissing(r.begin, r.end);
  m_resumePending.Clear();
}

void Session::ForgetManifest() {
  EndSharing(false);
  m_peers.End();
  m_peerOrder = false;
  m_checker.Stop();
  m_wholeHasher.Stop();
  m_pieces.Reset(nullptr);
  m_manifest.reset();
  m_resumeVerified.Clear();
  m_resumePending.Clear();
}

bool Session::PiecesSettled() const {
  if (m_resumePending.Covered() > 0) return false;  // the manifest is still to come
  return m_pieces.AllVerified();
}

void Session::UpdatePieces() {
  if (!m_manifest || m_localError) return;
  for (const PieceChecker::Result& r : m_checker.Take()) {
    if (r.readFailed) {
      m_localError = true;
      return;
    }
    if (m_pieces.Settle(r.index, r.match, m_sched.Forgotten()) == PieceLedger::Outcome::kBad) {
      PieceFailed(r.index);
      if (m_checkFailed) return;
    }
  }
  for (uint64_t i : m_pieces.TakeReady(m_sched.Done(), m_sched.Forgotten())) {
    ByteRange r = m_pieces.Range(i);
    m_checker.Check(i, r.begin, r.end, m_manifest->pieces[i]);
  }
}

// A piece did not match: its bytes go, the extra sources that gave any of them
// are dropped, and the link's server gets one more chance at it. Bytes written
// in an earlier run blame nobody.
void Session::PieceFailed(uint64_t index) {
  const uint64_t b = m_pieces.Range(index).begin, e = m_pieces.Range(index).end;
  bool othersWrote = false;
  const bool linkServed = m_sources.BlamePiece(b, e, &othersWrote);
  // Connections of dropped sources stop now; their leases are free again.
  std::vector<int> doomed;
  for (const auto& c : m_conns)
    if (!m_sources[c.second->source].alive) doomed.push_back(c.first);
  for (int id : doomed) Abort(id);
  m_sched.MarkMissing(b, e);
  // The link's server is blamed only for a piece it gave alone: a peer's
  // lie must not use up the server's chances.
  if (linkServed && !othersWrote && m_pieces.StrikeLink(index)) {
    Debug("piece %llu failed twice from the link's server", static_cast<unsigned long long>(index));
    m_checkFailed = true;
    return;
  }
  Debug("piece %llu failed%s; fetching it again", static_cast<unsigned long long>(index),
        linkServed ? " from the link's server" : "");
  if (!linkServed) return;
  // Another source should bring it; the link's server only when none is left.
  for (size_t i = 0; i < m_sources.Size(); ++i) {
    const Source& s = m_sources[i];
    if (s.primary || !s.alive || s.peer) continue;
    int id = m_nextId++;
    if (!m_sched.AssignExact(id, {b, e})) break;
    if (!Launch(i, Mode::kRange, {b, e}, id)) {
      if (m_sched.HasLease(id)) m_sched.Release(id);
      break;
    }
    Debug("conn %d fetches piece %llu from %s", id, static_cast<unsigned long long>(index), s.url.c_str());
    break;
  }
}

bool Session::BlameSources(uint64_t checkedFrom) {
  RangeSet again = m_sources.BlameFrom(checkedFrom);
  for (const auto& r : again.Ranges()) m_sched.MarkMissing(r.begin, r.end);
  const bool blamed = again.Count() > 0;
  // Verified pieces are fetched again: none of them is served meanwhile.
  if (blamed) EndSharing(false);
  if (blamed) FlushRecord();
  return blamed;
}

void Session::Tick(Clock::time_point now) {
  auto sinceSpeed = now - m_lastSpeed;
  if (sinceSpeed >= std::chrono::milliseconds(500)) {
    double secs = std::chrono::duration<double>(sinceSpeed).count();
    m_task.m_serverSpeed = static_cast<uint32_t>(std::min(4e9, (m_serverBytes - m_lastServerBytes) / secs));
    m_task.m_peerSpeed = static_cast<uint32_t>(std::min(4e9, (m_peerBytes - m_lastPeerBytes) / secs));
    m_lastServerBytes = m_serverBytes;
    m_lastPeerBytes = m_peerBytes;
    m_lastSpeed = now;
  }
  Publish();
  uint64_t written = m_serverBytes + m_peerBytes;
  if (written - m_writebackBytes >= kWritebackStep && m_disk.Idle()) {
    // Pushing many dirty pages out can block for milliseconds: not on this thread.
    m_disk.Post([this] { m_file.StartWriteback(); });
    m_writebackBytes = written;
  }
  FeedHasher();
  UpdateSharing(now);
  if (m_flushFailed) m_localError = true;
  // A record would only add a journal commit for the writes to wait for when
  // the flush before the rename comes soon anyway; should the speed drop,
  // records resume.
  if (m_sizeKnown && m_sched.FileSize() != kUnknownSize && m_sched.Done().Covered() != m_recordedBytes &&
      m_disk.Idle() &&
      m_pacer.RecordDue(now, m_lastRecord, written, m_sched.FileSize() - m_sched.Done().Covered())) {
    FlushRecord(true);
  }
  if (m_pacer.Grow(now, written, !m_stream && m_sizeKnown && !m_sched.Complete()))
    Debug("more connections: %d per source at %.1f MB/s", m_pacer.PerSource(), m_pacer.GrowRate() / 1e6);
}

DownloadTask::DownloadTask(const std::string& link, const std::string& target, const TaskOptions& options,
                           std::shared_ptr<SharingHub> hub)
    : m_link(link), m_target(target), m_options(options), m_hub(std::move(hub)) {}

DownloadTask::~DownloadTask() {
  Stop();
  Join();
}

bool DownloadTask::Start() {
  std::lock_guard<std::mutex> lock(m_lifeMutex);
  if (m_active && !m_stop) return true;
  if (m_state == kStateFinished) return true;
  // A stop still on its way out finishes first; it takes one poll interval.
  if (m_thread.joinable()) m_thread.join();
  // A stop that came after the last byte does not keep the file from its
  // check and rename: that run may have finished the file. Run again, it
  // would open a new side file beside the finished target and fetch it all.
  if (m_state == kStateFinished) return true;
  m_stop = false;
  m_state = kStateRunning;
  m_active = true;
  m_thread = std::thread(&DownloadTask::Run, this);
  return true;
}

bool DownloadTask::Stop() {
  m_stop = true;
  return true;
}

void DownloadTask::Join() {
  std::lock_guard<std::mutex> lock(m_lifeMutex);
  if (m_thread.joinable()) m_thread.join();
}

TaskStatus DownloadTask::Status() const {
  TaskStatus s;
  s.total = m_total;
  s.done = m_done;
  s.serverSpeed = m_serverSpeed;
  s.peerSpeed = m_peerSpeed;
  s.peerBytes = m_peerBytes;
  s.state = m_state;
  s.active = m_active;
  return s;
}

void DownloadTask::Run() {
  auto pathMutex = PathMutex(m_target);
  uint8_t state;
  {
    std::lock_guard<std::mutex> pathLock(*pathMutex);
    if (m_stop) {
      state = kStateRunning;
    } else {
      Session session(*this);
      state = session.Run();
    }
  }
  if (state == kStateFinished) m_done = m_total.load();
  m_state = state;
  m_serverSpeed = 0;
  m_peerSpeed = 0;
  m_active = false;
}

}  // namespace p2sp
