#include "download_task.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "fault_point.h"
#include "file_io.h"
#include "path_lock.h"
#include "session.h"
#include "trace.h"
#include "verify/file_check.h"

namespace p2sp {
namespace {

// Written data is pushed towards the disk in steps of this size, so the flushes
// before each record and before the rename find little left to do.
constexpr uint64_t kWritebackStep = 16u << 20;

}  // namespace

std::string SidePath(const std::string& target) { return engine_contract::SideFilePath(target); }

std::string ComputeH1Text(const std::string& path, uint64_t size, bool* ok) {
  *ok = false;
  RandomFile file;
  if (!file.Open(path, false)) return {};
  return ComputeH1Text(file, size, ok);
}

std::string ComputeH1Text(RandomFile& file, uint64_t size, bool* ok) {
  // The program's reading of the checked part, over positional reads.
  class Reader : public IReadableFile {
   public:
    explicit Reader(RandomFile& file) : m_file(file) {}
    bool Seek(uint64_t offset) override {
      m_pos = offset;
      return true;
    }
    bool Read(void* buffer, size_t length, size_t* got) override {
      if (!m_file.ReadAt(m_pos, buffer, length)) return false;
      m_pos += length;
      *got = length;
      return true;
    }

   private:
    RandomFile& m_file;
    uint64_t m_pos = 0;
  } reader(file);
  Md5Digest digest;
  *ok = Md5OfRange(reader, engine_contract::Md5RangeStart(size), size, &digest);
  return *ok ? FormatMd5Text(digest) : std::string();
}

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
  if (!m_link.valid || !m_multi || m_task.m_target.empty()) return kTaskStateFailedDownload;
  Debug("task %s -> %s", m_link.url.c_str(), m_task.m_target.c_str());
  if (!OpenSideFile()) return kTaskStateFailedDownload;
  // A file already at the target (a damaged copy, an earlier version), or
  // the data of an earlier version's side file, may hold pieces of this one.
  // A file at the target that the caller has given up moves out of the way
  // at once, unless a download of this file resumes beside it: until the
  // new file is in, the target's name is free.
  const std::string aside = engine_contract::OldSideFilePath(m_task.m_target);
  if (m_opt.discardOldTarget && !m_sizeKnown && FileExists(m_task.m_target) &&
      RenameReplacing(m_task.m_target, aside)) {
    Debug("the file at the target is set aside to be read for pieces");
  }
  if (FileExists(aside)) AddCandidate(aside, true);
  if (FileExists(m_task.m_target)) AddCandidate(m_task.m_target, false);
  for (;;) {
    Result r = Transfer();
    m_task.m_linkSpeed = 0;
    m_task.m_otherSpeed = 0;
    if (r == kCheckFailed) {
      // The link's own server keeps serving a piece that does not match.
      CloseFile();
      RemoveFile(m_sidePath);
      return kTaskStateFailedCheck;
    }
    if (r != kComplete) {
      if (m_sizeKnown && !m_localError) FlushRecord();
      CloseFile();
      return r == kStopped ? kTaskStateRunning : kTaskStateFailedDownload;
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
      return kTaskStateFailedDownload;
    }
    if (m_manifest && whole != m_manifest->sha256) {
      // Every piece matched, the whole does not: the manifest contradicts
      // itself, and nothing proves the file right.
      Debug("whole-file SHA-256 %s, manifest says %s", whole.c_str(), m_manifest->sha256.c_str());
      CloseFile();
      RemoveFile(m_sidePath);
      return kTaskStateFailedCheck;
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
      return kTaskStateFailedCheck;
    }
    Debug("checked");
    m_hasher.Stop();
    ok = m_file.Truncate(size) && m_file.Sync();
    CloseFile();
    FaultPoint("before-rename");
    if (!ok || !RenameReplacing(m_sidePath, m_task.m_target)) return kTaskStateFailedDownload;
    RemoveOurCandidates();
    EndSharing(true);
    Debug("renamed%s", m_manifest ? (", " + std::to_string(m_pieces.Checked()) + " pieces checked").c_str() : "");
    return kTaskStateFinished;
  }
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
    ResumeCapped();
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
    if (!finished) curl_multi_poll(m_multi.get(), nullptr, 0, checking ? 2 : CapWaitMs(), nullptr);
  }
}

void Session::Tick(Clock::time_point now) {
  auto sinceSpeed = now - m_lastSpeed;
  if (sinceSpeed >= std::chrono::milliseconds(500)) {
    double secs = std::chrono::duration<double>(sinceSpeed).count();
    m_task.m_linkSpeed = static_cast<uint32_t>(std::min(4e9, (m_serverBytes - m_lastServerBytes) / secs));
    m_task.m_otherSpeed = static_cast<uint32_t>(std::min(4e9, (m_peerBytes - m_lastPeerBytes) / secs));
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
  JudgeSpeeds(now);
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
  if (m_state == kTaskStateFinished) return true;
  // A stop still on its way out finishes first; it takes one poll interval.
  if (m_thread.joinable()) m_thread.join();
  // A stop that came after the last byte does not keep the file from its
  // check and rename: that run may have finished the file. Run again, it
  // would open a new side file beside the finished target and fetch it all.
  if (m_state == kTaskStateFinished) return true;
  m_stop = false;
  m_state = kTaskStateRunning;
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

TaskProgress DownloadTask::Status() const {
  TaskProgress s;
  s.total = m_total;
  s.done = m_done;
  s.linkSpeed = m_linkSpeed;
  s.otherSpeed = m_otherSpeed;
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
      state = kTaskStateRunning;
    } else {
      Session session(*this);
      state = session.Run();
    }
  }
  if (state == kTaskStateFinished) m_done = m_total.load();
  m_state = state;
  m_linkSpeed = 0;
  m_otherSpeed = 0;
  m_active = false;
}

}  // namespace p2sp
