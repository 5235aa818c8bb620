// The side file of one run: opened and resumed from its progress record, laid
// out for a known size, records flushed; the h1 hash read behind the bytes.

#include "session.h"

#include <memory>
#include <vector>

#include "progress_record.h"
#include "trace.h"

namespace p2sp {

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
    const bool decoded = m_file.ReadAt(length - area.size(), area.data(), area.size()) &&
                         DecodeRecordArea(area.data(), area.size(), &rec);
    if (decoded && rec.fileSize + ProgressRecord::kAreaSize == length && rec.linkHash == HashLink(m_link.url) &&
        (m_h1.empty() || rec.h1.empty() || rec.h1 == m_h1)) {
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
    if (decoded) {
      // Another file's download (an earlier version of this one): its data
      // may still hold pieces of this file.
      Debug("the side file's record is for another file");
      return SetSideFileAside();
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
  // Whatever else lies there may hold pieces of this file.
  if (orphan > 0 && !SetSideFileAside()) {
    m_localError = true;
    return false;
  }
  bool laidOut = m_file.Truncate(0) && m_file.Allocate(size + ProgressRecord::kAreaSize);
  if (!laidOut && GiveUpCandidates()) laidOut = m_file.Allocate(size + ProgressRecord::kAreaSize);
  if (!laidOut) {
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

}  // namespace p2sp
