// The small questions of one run beside the transfers: the seed service for
// more sources and players, and the manifest that checks the file piece by piece.

#include "session.h"

#include <string>

#include "progress_record.h"
#include "proxy.h"
#include "trace.h"

namespace p2sp {
namespace {

constexpr int kMaxSeedSources = 8;
// The seed service forgets a peer not heard for 10 minutes.
constexpr auto kSeedRefresh = std::chrono::minutes(4);

}  // namespace

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
  m_manifestAsked = Clock::now();
  if (!m_manifestQuery.Start(m_multi.get(), url, m_opt.proxy.empty() ? SystemProxyFor(url) : m_opt.proxy,
                             kUserAgent)) {
    m_manifestSettled = true;
    SettleCandidates();
  }
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
  SettleCandidates();
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
  SettleCandidates();
  for (const std::string& url : m_manifest->urls) {
    if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0) AddSource(url, "manifest");
  }
  BeginSharing();
}

}  // namespace p2sp
