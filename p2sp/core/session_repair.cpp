// A file already at the target (a damaged copy, or an earlier version of the
// file) is read piece by piece against the manifest once it is in: every
// piece of it that matches a piece of the file being fetched is kept, and
// only the others are fetched. The target itself stays as it is until the
// whole file has passed its check and replaces it.

#include "session.h"

#include <algorithm>
#include <map>
#include <vector>

#include "sha256.h"
#include "trace.h"

namespace p2sp {

void Session::KeepMatchingPieces() {
  if (m_candidate.empty() || !m_manifest) return;
  const std::string path = m_candidate;
  m_candidate.clear();
  RandomFile old;
  if (!old.OpenForReading(path)) return;
  const uint64_t oldSize = old.Size();
  const uint64_t length = m_manifest->pieceLength;
  // The pieces still wanted, by their SHA-256 and length.
  std::map<std::pair<std::string, uint64_t>, std::vector<uint64_t>> wanted;
  for (uint64_t i = 0; i < m_manifest->PieceCount(); ++i) {
    const ByteRange r = m_pieces.Range(i);
    if (!m_pieces.Verified().Contains(r.begin, r.end)) wanted[{m_manifest->pieces[i], r.end - r.begin}].push_back(i);
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(length));
  RangeSet kept;
  for (uint64_t at = 0; at < oldSize && !wanted.empty() && !m_task.m_stop; at += length) {
    const size_t n = static_cast<size_t>(std::min(length, oldSize - at));
    Sha256Digest digest;
    if (!old.ReadAt(at, buffer.data(), n) || !Sha256Of(buffer.data(), n, &digest)) return;
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
  if (kept.Covered() == 0) return;
  const uint64_t pieces = m_pieces.Trust(kept, m_sched.Done());
  // Hashes that read what lay there before start over.
  m_hasher.Stop();
  Debug("kept %llu pieces (%llu bytes) of %s", static_cast<unsigned long long>(pieces),
        static_cast<unsigned long long>(kept.Covered()), path.c_str());
  Publish();
}

}  // namespace p2sp
