// A file already at the target (a damaged copy, or an earlier version of the
// file), and the data of a side file left by an earlier version's download,
// are read piece by piece against the manifest once it is in: every piece of
// them that matches a piece of the file being fetched is kept, and only the
// others are fetched. The target itself stays as it is until the whole file
// has passed its check and replaces it, unless the caller has given it up:
// then it is moved aside at the start and removed once read.

#include "session.h"

#include <algorithm>
#include <map>
#include <vector>

#include "file_io.h"
#include "sha256.h"
#include "trace.h"

namespace p2sp {

void Session::AddCandidate(const std::string& path, bool ours) {
  for (const Candidate& c : m_candidates) {
    if (c.path == path) return;
  }
  m_candidates.push_back({path, ours});
}

bool Session::SetSideFileAside() {
  const std::string aside = engine_contract::OldSideFilePath(m_task.m_target);
  m_file.Close();
  // One set aside from a run before is kept instead; this one starts over.
  if (!FileExists(aside) && RenameReplacing(m_sidePath, aside)) {
    Debug("the side file's data are read for pieces once the manifest is in");
    AddCandidate(aside, true);
  }
  return m_file.Open(m_sidePath, true);
}

void Session::KeepMatchingPieces() {
  if (!m_manifest) return;
  const uint64_t length = m_manifest->pieceLength;
  // The pieces still wanted, by their SHA-256 and length.
  std::map<std::pair<std::string, uint64_t>, std::vector<uint64_t>> wanted;
  for (uint64_t i = 0; i < m_manifest->PieceCount(); ++i) {
    const ByteRange r = m_pieces.Range(i);
    if (!m_pieces.Verified().Contains(r.begin, r.end)) wanted[{m_manifest->pieces[i], r.end - r.begin}].push_back(i);
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(length));
  RangeSet kept;
  for (const Candidate& candidate : m_candidates) {
    RandomFile old;
    if (!old.OpenForReading(candidate.path)) continue;
    const uint64_t oldSize = old.Size();
    for (uint64_t at = 0; at < oldSize && !wanted.empty() && !m_task.m_stop; at += length) {
      const size_t n = static_cast<size_t>(std::min(length, oldSize - at));
      Sha256Digest digest;
      if (!old.ReadAt(at, buffer.data(), n) || !Sha256Of(buffer.data(), n, &digest)) break;
      auto it = wanted.find({Sha256Text(digest), n});
      if (it == wanted.end()) continue;
      for (uint64_t index : it->second) {
        const ByteRange r = m_pieces.Range(index);
        AbortWritersWithin(r);
        if (!m_file.WriteAt(r.begin, buffer.data(), n)) {
          m_localError = true;
          return;
        }
        m_sched.MarkDone(r.begin, r.end);
        kept.Add(r.begin, r.end);
      }
      wanted.erase(it);
    }
  }
  if (kept.Covered() == 0) return;
  const uint64_t pieces = m_pieces.Trust(kept, m_sched.Done());
  // Hashes that read what lay there before start over.
  m_hasher.Stop();
  Debug("kept %llu pieces (%llu bytes) of files already here", static_cast<unsigned long long>(pieces),
        static_cast<unsigned long long>(kept.Covered()));
  Publish();
}

void Session::SettleCandidates() {
  if (m_candidates.empty()) return;
  KeepMatchingPieces();
  if (m_task.m_stop || m_localError) return;  // read again next time
  // What was kept is on record before the files it came from go.
  if (m_manifest && !FlushRecord()) return;
  RemoveOurCandidates();
  m_candidates.clear();
}

void Session::RemoveOurCandidates() {
  for (const Candidate& c : m_candidates) {
    if (c.ours) RemoveFile(c.path);
  }
}

bool Session::GiveUpCandidates() {
  bool removed = false;
  for (auto it = m_candidates.begin(); it != m_candidates.end();) {
    if (!it->ours) {
      ++it;
      continue;
    }
    // Room for the whole new file comes first: the copy goes unread.
    Debug("no room for the file beside %s: it goes unread", it->path.c_str());
    removed = RemoveFile(it->path) || removed;
    it = m_candidates.erase(it);
  }
  return removed;
}

}  // namespace p2sp
