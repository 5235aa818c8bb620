// The connections of one run: which source fetches what, the requests, their
// answers judged, the bytes written, and how each connection ends.

#include "session.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "proxy.h"
#include "speed_cap.h"
#include "tls_check.h"
#include "trace.h"

namespace p2sp {
namespace {

// A player that turned us away is asked again after this.
constexpr auto kPeerBusyPause = std::chrono::seconds(2);
// What a connection reads at a time when no speed cap holds it.
constexpr uint64_t kBufferSize = 512 * 1024;
// Under a speed cap the system buffers no more than this share of a second of
// the cap for each connection, so that bytes arrive at the cap's pace rather
// than as whole requests at once (a buffer the system grows by itself can hold
// seconds of a low cap). Enough for a connection to carry a third of the cap
// at 100 ms round trips.
constexpr uint64_t kCappedWindowDivisor = 32;

int SetReceiveBuffer(void* user, curl_socket_t socket, curlsocktype purpose) {
  const uint64_t rate = *static_cast<const uint64_t*>(user);
  if (purpose != CURLSOCKTYPE_IPCXN || rate == 0) return CURL_SOCKOPT_OK;
  const int bytes = static_cast<int>(std::clamp<uint64_t>(rate / kCappedWindowDivisor, 16 * 1024, 4 << 20));
  setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
  return CURL_SOCKOPT_OK;
}

// Bytes per second under which a peer's connection ends (over the stall time).
constexpr long kPeerLowSpeed = 1024;

// The first request's size while a file at the target may hold the pieces.
constexpr uint64_t kCandidateProbe = 64 * 1024;

}  // namespace

void Session::StartConnections(Clock::time_point now) {
  if (!m_sizeKnown || m_stream) {
    // One stream at a time until the size is known, and for servers without ranges.
    if (!m_conns.empty() || m_streamDone) return;
    if (!m_sources.MayConnect(0, now)) return;
    Launch(0, m_sizeKnown ? Mode::kStream : Mode::kProbe, {0, kUnknownSize}, m_nextId++);
    return;
  }
  if (m_sched.Complete()) return;
  // A file that may be shared is fetched piece by piece once its manifest is
  // in: the first connection goes on meanwhile, the others wait for the
  // manifest's answer (one round trip to the link's own server), a while at
  // most, rather than ask for bytes all over the file.
  // So do all connections while a file at the target may hold the pieces.
  if ((!m_candidates.empty() || (m_hub && !m_conns.empty())) && m_manifestQuery.Running() &&
      now - m_manifestAsked < kManifestWait)
    return;
  // Sources with nothing they may fetch this round.
  std::vector<bool> idle(m_sources.Size(), false);
  for (;;) {
    int pick = m_sources.Pick(m_pacer.PerSource(), idle, now);
    if (pick < 0) return;
    const uint64_t from = TrustedFrom(m_sources[pick]);
    int id = m_nextId++;
    ByteRange lease;
    // About a second of one connection's share of the speed so far.
    const uint64_t chunk =
        m_conns.empty() ? Pacer::kMinChunk : static_cast<uint64_t>(m_pacer.GrowRate() / m_conns.size());
    if (!AssignForSource(static_cast<size_t>(pick), id, &lease, chunk)) {
      if (m_sources[pick].peer) {
        if (!StealForPeer(static_cast<size_t>(pick), id, &lease, now)) {
          idle[pick] = true;  // it holds nothing we still need
          continue;
        }
        if (!Launch(static_cast<size_t>(pick), Mode::kRange, lease, id)) {
          m_sched.Release(id);
          return;
        }
        continue;
      }
      // Nothing to split: take over the rest of a lease its owner is far too
      // slow for, or of a connection that went quiet in the middle of its
      // answer.
      const int victim = SlowLease(static_cast<size_t>(pick), from, now);
      if (victim < 0 || !m_sched.TakeOver(id, victim, &lease)) {
        idle[pick] = true;
        continue;
      }
      Debug("conn %d takes over the lease of slow conn %d", id, victim);
      Abort(victim);
    }
    if (!Launch(static_cast<size_t>(pick), Mode::kRange, lease, id)) {
      m_sched.Release(id);
      return;
    }
  }
}

// The connection whose lease a free connection of source `thief` should take
// over, or -1: the one that would need the longest for the rest of its lease,
// when the thief expects to be far faster (its source's speed per connection
// so far, else the task's). One that went quiet in the middle of its answer
// goes in any case. A server's connection still waiting for its first byte is
// left to the stall timeout, or a slow server would see its requests moved
// forever; a peer's is not: players answer at once.
int Session::SlowLease(size_t thief, uint64_t from, Clock::time_point now) const {
  const Source& t = m_sources[thief];
  const double thiefRate = t.rate > 0 ? t.rate / std::max(1, t.connections + 1)
                                      : m_taskRate / static_cast<double>(std::max<size_t>(1, m_conns.size()));
  int victim = -1;
  double longest = 0;
  for (const auto& entry : m_conns) {
    const Conn& c = *entry.second;
    if (c.mode != Mode::kRange || c.capped || !m_sched.HasLease(c.id) || c.pos < from) continue;
    const bool midAnswer = c.pos > c.begin;
    const Source& owner = m_sources[c.source];
    if (t.peer && !t.map.Covers(c.pos, m_sched.LeaseOf(c.id).end)) continue;
    double eta = -1;
    if (Pacer::MayTakeOver(midAnswer, c.lastProgress, now)) {
      eta = 1e18;
    } else if (c.rate >= 0 && (midAnswer || owner.peer)) {
      const uint64_t left = m_sched.LeaseOf(c.id).end - c.pos;
      if (Pacer::MayTakeLease(left, c.rate, thiefRate)) eta = c.rate > 0 ? static_cast<double>(left) / c.rate : 1e17;
    }
    if (eta > longest) {
      longest = eta;
      victim = c.id;
    }
  }
  return victim;
}

// Every window, each connection's speed over it, each source's over its
// connections, and the task's; a peer far slower than the rest goes.
void Session::JudgeSpeeds(Clock::time_point now) {
  if (m_judgedFrom == Clock::time_point{}) {
    m_judgedFrom = now;
    m_judgedBytes = m_serverBytes + m_peerBytes;
    return;
  }
  const auto window = now - m_judgedFrom;
  if (window < Pacer::kJudgeWindow) return;
  const double secs = std::chrono::duration<double>(window).count();
  m_taskRate = static_cast<double>(m_serverBytes + m_peerBytes - m_judgedBytes) / secs;
  std::vector<double> sourceRate(m_sources.Size(), -1);
  std::vector<int> judged(m_sources.Size(), 0);
  for (auto& entry : m_conns) {
    Conn& c = *entry.second;
    if (c.judgedFrom <= m_judgedFrom && !c.heldInWindow && !c.capped && c.mode == Mode::kRange) {
      c.rate = static_cast<double>(c.received - c.judgedBytes) / secs;
      sourceRate[c.source] = std::max(0.0, sourceRate[c.source]) + c.rate;
      ++judged[c.source];
    }
    c.judgedFrom = now;
    c.judgedBytes = c.received;
    c.heldInWindow = c.capped;
  }
  m_judgedFrom = now;
  m_judgedBytes = m_serverBytes + m_peerBytes;
  std::vector<size_t> slow;
  for (size_t i = 0; i < sourceRate.size(); ++i) {
    if (sourceRate[i] < 0) continue;
    m_sources.SetRate(i, sourceRate[i]);
    const Source& s = m_sources[i];
    if (s.peer && s.alive && Pacer::SlowPeer(sourceRate[i] / judged[i], m_taskRate, m_conns.size())) slow.push_back(i);
  }
  for (size_t i : slow) DropSlowPeer(i);
}

// A peer far slower than the rest goes for the task: its connections end,
// their leases go back to the others, and its few bytes in pieces still open
// are not trusted to be right: they come from elsewhere with the rest, rather
// than fail the piece's check. A complete piece is left to its check, which
// blames it if need be.
void Session::DropSlowPeer(size_t i) {
  Debug("peer %s: %.0f B/s while the task takes %.0f B/s", m_sources[i].url.c_str(), m_sources[i].rate, m_taskRate);
  m_sources.Drop(i, "it is far slower than the other sources");
  std::vector<int> ids;
  for (const auto& c : m_conns)
    if (c.second->source == i) ids.push_back(c.first);
  for (int id : ids) Abort(id);
  const uint64_t piece = m_manifest ? m_manifest->pieceLength : 0;
  if (!piece) return;
  RangeSet keep = m_pieces.Verified();
  for (const auto& r : m_sources[i].wrote.Ranges()) {
    for (uint64_t p = r.begin / piece * piece; p < r.end; p += piece) {
      const uint64_t end = std::min(p + piece, m_sched.FileSize());
      if (m_sched.Done().Contains(p, end)) keep.Add(p, end);
    }
  }
  for (const auto& r : m_sources.ForgetUnproven(i, keep).Ranges()) m_sched.MarkMissing(r.begin, r.end);
}

// A peer with room and nothing free in its pieces takes the second half of
// a slow server connection's lease inside them: a server shared by many
// players sends each connection little, and its leases would keep the
// pieces from a peer that has them at hand. The server's request is cut
// short where the half begins (its connection is then made anew).
bool Session::StealForPeer(size_t source, int id, ByteRange* lease, Clock::time_point now) {
  const Source& peer = m_sources[source];
  int victim = -1;
  double longest = kStealAfter;
  uint64_t cut = 0;
  for (const auto& entry : m_conns) {
    const Conn& c = *entry.second;
    if (c.mode != Mode::kRange || m_sources[c.source].peer || !m_sched.HasLease(c.id)) continue;
    const ByteRange l = m_sched.LeaseOf(c.id);
    if (l.Length() < 2 * kMinSteal) continue;
    const uint64_t at = l.begin + l.Length() / 2;
    if (!peer.map.Covers(at, l.end)) continue;
    const double secs = std::chrono::duration<double>(now - c.reqStarted).count();
    if (secs < 1.0) continue;  // too early to tell its speed
    const double rate = std::max(1.0, static_cast<double>(c.pos - c.begin) / secs);
    // A peer known to be slower than this connection would only slow it.
    if (peer.rate > 0 && peer.rate / std::max(1, peer.connections + 1) < rate) continue;
    const double left = static_cast<double>(l.Length()) / rate;
    if (left > longest) {
      longest = left;
      victim = c.id;
      cut = at;
    }
  }
  if (victim < 0 || !m_sched.Cut(victim, cut, id, lease)) return false;
  Debug("conn %d of a peer takes [%llu, %llu) from slow conn %d", id, static_cast<unsigned long long>(lease->begin),
        static_cast<unsigned long long>(lease->end), victim);
  return true;
}

// While a file can be shared, leases go piece by piece, a quarter piece at
// most for a connection slower than that a second (`chunk`, its request
// size), so that pieces are complete, verified and worth something to other
// players early, not all at once at the end. A peer is asked only for pieces
// its map holds, the rarest first; the link's server and mirrors take those
// no peer holds first, and pieces already begun before new ones.
bool Session::AssignForSource(size_t source, int id, ByteRange* lease, uint64_t chunk) {
  const Source& s = m_sources[source];
  const uint64_t most = m_manifest ? std::max<uint64_t>({m_manifest->pieceLength / 4, 1u << 20, chunk}) : 0;
  if (s.peer) return m_sched.AssignAmong(id, m_peers.PiecesFor(source, m_sched.Done()), lease, most);
  if (m_pieceOrder && m_sched.AssignAmong(id, m_peers.PiecesForServers(m_sched.Done()), lease, most)) return true;
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
  c->lastProgress = c->judgedFrom = Clock::now();
  for (const auto& other : m_conns) c->chunk = std::max(c->chunk, other.second->chunk);
  // Only the size is wanted before the file at the target is read.
  if (mode == Mode::kProbe && (!m_candidates.empty() || m_orphanLength > 0)) c->chunk = kCandidateProbe;
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
  curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &SetReceiveBuffer);
  curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, &c->socketCap);
  // Redirects keep the Range header, so a resume survives them. A player
  // answers for itself: a redirect from one is refused, not followed.
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, s.peer ? 0L : 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_opt.connectSeconds));
  // A server may be slow and still the only one; a player below a kilobyte a
  // second is of no use even alone.
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, s.peer ? kPeerLowSpeed : 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_opt.stallSeconds));
  curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
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
  // Under a speed cap a connection takes a twentieth of a second of the cap
  // at a time, so that no buffer arrives as a burst above it; a socket made
  // under another cap (or none) is not used again.
  const uint64_t rate = m_opt.speedCap ? m_opt.speedCap->Rate() : 0;
  curl_easy_setopt(c->easy.get(), CURLOPT_FRESH_CONNECT, rate != c->socketCap ? 1L : 0L);
  c->socketCap = rate;
  const uint64_t buffer = rate ? std::clamp<uint64_t>(rate / 20, SpeedCap::kMinBurst, kBufferSize) : kBufferSize;
  curl_easy_setopt(c->easy.get(), CURLOPT_BUFFERSIZE, static_cast<long>(buffer));
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

// Connections that would still write into `r`, which is about to hold checked
// bytes, go.
void Session::AbortWritersWithin(const ByteRange& r) {
  std::vector<int> ids;
  for (const auto& c : m_conns) {
    uint64_t end = c.second->reqEnd;
    if (m_sched.HasLease(c.first)) end = std::max(end, m_sched.LeaseOf(c.first).end);
    if (c.second->pos < r.end && end > r.begin) ids.push_back(c.first);
  }
  for (int id : ids) Abort(id);
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
  // Until the manifest's answer, a file at the target may hold the rest.
  const bool holdForTarget = !m_candidates.empty() && !m_manifestSettled;
  if (ok && c->mode == Mode::kRange && !c->reachedEnd && !holdForTarget && m_sched.HasLease(id) &&
      m_sched.LeaseOf(id).Length() > 0) {
    // The same connection goes on with the rest of its lease; curl keeps the
    // socket open between the requests.
    curl_multi_remove_handle(m_multi.get(), c->easy.get());
    if (Request(c)) return;
  }
  ByteRange next;
  if (ok && c->mode == Mode::kRange && !c->reachedEnd && m_pieceOrder && !m_task.m_stop && s.alive &&
      AssignForSource(c->source, id, &next, c->chunk)) {
    // Piece by piece, leases are short: the connection takes the next one.
    c->pos = next.begin;
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
  if (m_opt.speedCap && !m_opt.speedCap->Admit(size, SpeedCap::NowMs())) {
    // curl keeps these bytes and hands them over again once resumed.
    c->capped = c->heldInWindow = true;
    return CURL_WRITEFUNC_PAUSE;
  }
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
  c->received += take;
  if (take < size) {
    c->reachedEnd = true;
    return 0;
  }
  return size;
}

void Session::OnHeader(Conn* c, const char* data, size_t size) { c->answer.Feed(std::string(data, size)); }

// Connections the speed cap paused go on while it allows, each in its turn:
// the one after the first of last time goes first.
void Session::ResumeCapped() {
  std::vector<Conn*> waiting;
  for (auto& c : m_conns)
    if (c.second->capped) waiting.push_back(c.second.get());
  if (waiting.empty()) return;
  std::rotate(waiting.begin(), waiting.begin() + static_cast<long>(m_capTurn++ % waiting.size()), waiting.end());
  for (Conn* c : waiting) {
    if (m_opt.speedCap && m_opt.speedCap->WaitMs(SpeedCap::NowMs()) > 0) return;
    c->capped = false;
    c->lastProgress = Clock::now();  // it waited on the cap, not on its source
    curl_easy_pause(c->easy.get(), CURLPAUSE_CONT);  // may pause it again at once
  }
}

// How long the loop may wait for the sockets before a paused connection's turn.
long Session::CapWaitMs() {
  for (auto& c : m_conns)
    if (c.second->capped) return static_cast<long>(std::min<uint64_t>(50, m_opt.speedCap->WaitMs(SpeedCap::NowMs())));
  return 50;
}

size_t Session::WriteCb(char* data, size_t size, size_t n, void* user) {
  Conn* c = static_cast<Conn*>(user);
  return c->owner->OnData(c, data, size * n);
}

size_t Session::HeaderCb(char* data, size_t size, size_t n, void* user) {
  Conn* c = static_cast<Conn*>(user);
  c->owner->OnHeader(c, data, size * n);
  return size * n;
}

}  // namespace p2sp
