#include "journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "log.h"

namespace {

const char kMagic[] = "gdserver journal ";
constexpr size_t kMaxRecord = 1 << 20;  // far above any request line we accept
// A journal is emptied with at most this much not stored yet in it.
constexpr int64_t kMaxTail = 4 << 20;

std::string NewId() {
  std::random_device random;
  char id[17];
  std::snprintf(id, sizeof id, "%08x%08x", random(), random());
  return id;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Parses the record at data[0..size); returns its length, 0 when it is cut
// off by the end of the data, -1 when the bytes are not a record.
long ParseRecord(const char* data, size_t size, JournalRecord* out) {
  size_t i = 0;
  size_t n = 0;
  while (i < size && i < 8 && data[i] >= '0' && data[i] <= '9') n = n * 10 + static_cast<size_t>(data[i++] - '0');
  if (i == size) return 0;
  if (i == 0 || data[i] != ':' || n > kMaxRecord) return -1;
  const size_t begin = i + 1;
  if (begin + n + 1 > size) return size - begin >= kMaxRecord + 1 ? -1 : 0;
  if (data[begin + n] != '\n') return -1;
  const char* p = data + begin;
  const char* end = p + n;
  const char* space1 = static_cast<const char*>(std::memchr(p, ' ', n));
  if (!space1) return -1;
  const char* space2 = static_cast<const char*>(std::memchr(space1 + 1, ' ', static_cast<size_t>(end - space1 - 1)));
  if (!space2) return -1;
  int64_t ms = 0;
  for (const char* c = p; c < space1; ++c) {
    if (*c < '0' || *c > '9') return -1;
    ms = ms * 10 + (*c - '0');
  }
  if (space1 == p) return -1;
  out->receivedMs = ms;
  out->client.assign(space1 + 1, space2);
  out->target.assign(space2 + 1, end);
  return static_cast<long>(begin + n + 1);
}

}  // namespace

Journal::Journal(const std::string& path) : m_path(path) {
  m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (m_fd < 0) throw JournalError("cannot open journal " + path + ": " + std::strerror(errno));
  if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
    close(m_fd);
    throw JournalError("journal " + path + " is in use by another gdserver (give each its own --journal)");
  }
  struct stat st {};
  fstat(m_fd, &st);
  if (st.st_size == 0) {
    m_id = NewId();
    WriteHeader(1);
    return;
  }
  // The header, then the records, read a batch at a time. A record that
  // does not read back (a damaged byte) is skipped up to the next good one;
  // what follows the last good record is one torn by a crash, and cut off.
  char head[256] = {};
  const ssize_t got = pread(m_fd, head, sizeof head - 1, 0);
  const char* newline = got > 0 ? static_cast<const char*>(std::memchr(head, '\n', static_cast<size_t>(got))) : nullptr;
  char id[64] = {};
  long long generation = 0;
  if (got <= 0 || std::strncmp(head, kMagic, sizeof kMagic - 1) != 0 || !newline ||
      std::sscanf(head + sizeof kMagic - 1, "%63s %lld", id, &generation) != 2 || generation < 1) {
    close(m_fd);
    throw JournalError(path + " is not a gdserver journal; not touching it");
  }
  m_id = id;
  m_generation = generation;
  m_headerSize = static_cast<size_t>(newline - head) + 1;
  m_end = st.st_size;
  int64_t at = static_cast<int64_t>(m_headerSize);
  int64_t lastGood = at;
  while (at < st.st_size) {
    const Batch batch = Read(at, 100000, 16 << 20);
    if (!batch.records.empty()) lastGood = batch.records.back().end;
    if (batch.next == at) break;
    at = batch.next;
  }
  if (lastGood < st.st_size) {
    Log("journal: cutting %lld bytes of a record torn by a crash off %s", static_cast<long long>(st.st_size - lastGood),
        path.c_str());
    if (ftruncate(m_fd, static_cast<off_t>(lastGood)) != 0) throw JournalError("cannot cut journal " + path);
  }
  m_end = lastGood;
}

Journal::~Journal() {
  if (m_fd >= 0) close(m_fd);
}

void Journal::WriteHeader(int64_t generation) {
  const std::string header = kMagic + m_id + " " + std::to_string(generation) + "\n";
  if (!WriteAll(m_fd, header.data(), header.size())) throw JournalError("cannot write journal " + m_path);
  m_headerSize = header.size();
  m_generation = generation;
  m_end = static_cast<int64_t>(header.size());
}

bool Journal::Append(int64_t receivedMs, const std::string& client, const std::string& target) {
  const std::string payload = std::to_string(receivedMs) + " " + client + " " + target;
  if (payload.size() + 16 > kMaxRecord) return false;
  const std::string record = std::to_string(payload.size()) + ":" + payload + "\n";
  std::lock_guard<std::mutex> lock(m_appendLock);
  if (m_broken) return false;
  const int64_t end = m_end.load();
  if (WriteAll(m_fd, record.data(), record.size())) {
    m_end = end + static_cast<int64_t>(record.size());
    return true;
  }
  // Take back whatever part of it was written, or the next record would be
  // read as its continuation.
  if (ftruncate(m_fd, static_cast<off_t>(end)) != 0) {
    m_broken = true;
    Log("journal: a failed write could not be taken back; taking no more reports");
  }
  return false;
}

Journal::Batch Journal::Read(int64_t from, size_t maxRecords, size_t maxBytes) const {
  Batch batch;
  batch.next = from;
  size_t bytes = 0;
  const int64_t end = m_end.load();
  std::string chunk;
  int64_t chunkSize = 256 << 10;
  while (batch.records.size() < maxRecords && bytes < maxBytes && batch.next < end) {
    // Enough for a batch of ordinary records; more when one is longer.
    const size_t want = static_cast<size_t>(std::min<int64_t>(end - batch.next, chunkSize));
    chunk.resize(want);
    const ssize_t got = pread(m_fd, chunk.data(), want, batch.next);
    if (got <= 0) {
      Log("journal: cannot read %s: %s", m_path.c_str(), std::strerror(errno));
      break;
    }
    chunk.resize(static_cast<size_t>(got));
    // Records up to the end are whole (the end moves after a whole write),
    // so one cut off by the end is damaged, not still being written.
    const bool reachesEnd = batch.next + got >= end;
    size_t at = 0;
    while (batch.records.size() < maxRecords && bytes < maxBytes && at < chunk.size()) {
      JournalRecord record;
      long n = ParseRecord(chunk.data() + at, chunk.size() - at, &record);
      if (n == 0 && reachesEnd) n = -1;
      if (n == 0) {
        // Cut off by the chunk: read on from this record, with a larger
        // chunk when it is the first.
        if (at == 0) chunkSize *= 2;
        break;
      }
      if (n < 0) {
        const size_t newline = chunk.find('\n', at);
        const size_t skip = (newline == std::string::npos ? chunk.size() : newline + 1) - at;
        Log("journal: skipping %zu bytes that are not a record at %lld", skip,
            static_cast<long long>(batch.next + static_cast<int64_t>(at)));
        at += skip;
        continue;
      }
      at += static_cast<size_t>(n);
      bytes += static_cast<size_t>(n);
      record.end = batch.next + static_cast<int64_t>(at);
      batch.records.push_back(std::move(record));
    }
    batch.next += static_cast<int64_t>(at);
  }
  return batch;
}

Journal::Tip Journal::Now() {
  std::lock_guard<std::mutex> lock(m_appendLock);
  return Tip{m_generation.load(), m_end.load()};
}

bool Journal::Restart(int64_t storedEnd) {
  std::lock_guard<std::mutex> lock(m_appendLock);
  const int64_t end = m_end.load();
  if (m_broken || storedEnd > end || end - storedEnd > kMaxTail) return false;
  if (end == storedEnd) {
    if (ftruncate(m_fd, 0) != 0) return false;
    // A crash from here on leaves a header of the new generation (or an
    // empty file); the database's mark names the old one, so reading starts
    // anew.
    WriteHeader(m_generation.load() + 1);
    return true;
  }
  // Records not stored yet move to a new file of the next generation, which
  // replaces this one by a rename: a crash leaves one file or the other,
  // each with every record the database does not have.
  std::string tail(static_cast<size_t>(end - storedEnd), '\0');
  if (pread(m_fd, tail.data(), tail.size(), storedEnd) != static_cast<ssize_t>(tail.size())) return false;
  const std::string next = m_path + ".new";
  const int fd = open(next.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0640);
  if (fd < 0) return false;
  const std::string header = kMagic + m_id + " " + std::to_string(m_generation.load() + 1) + "\n";
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !WriteAll(fd, header.data(), header.size()) ||
      !WriteAll(fd, tail.data(), tail.size()) || rename(next.c_str(), m_path.c_str()) != 0) {
    Log("journal: cannot write %s: %s; keeping the journal as it is", next.c_str(), std::strerror(errno));
    close(fd);
    unlink(next.c_str());
    return false;
  }
  close(m_fd);
  m_fd = fd;
  m_headerSize = header.size();
  m_generation = m_generation.load() + 1;
  m_end = static_cast<int64_t>(header.size() + tail.size());
  return true;
}
