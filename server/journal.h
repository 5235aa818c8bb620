#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

struct JournalError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where the database has taken the journal up to. Stored in the same
// transaction as the reports, so a report is in the database or after this
// mark, never both and never neither.
struct JournalMark {
  std::string journal;     // the journal's id
  int64_t generation = 0;  // bumped each time the file is emptied
  int64_t position = 0;    // bytes of that generation stored
};

// One report as appended: arrival time, peer address and the request target
// exactly as it came.
struct JournalRecord {
  int64_t receivedMs = 0;
  std::string client;
  std::string target;
  int64_t end = 0;  // file position after the record
};

// An append-only file of received reports. A report is answered once its
// record is written here: a write() that returned is in the page cache and
// survives the process being killed, as a web server's access log does. The
// database takes the records in batches afterwards (see Ingest); at start the
// records after the database's mark are taken again.
//
// The file begins with "gdserver journal <id> <generation>\n"; each record is
// "<n>:<ms> <client> <target>\n" where n counts the bytes between ':' and the
// newline, so a target may hold any byte.
class Journal {
 public:
  // Opens or creates `path` and locks it against a second server. A torn
  // record at the end (a crash in the middle of a write) is cut off. Throws
  // JournalError.
  explicit Journal(const std::string& path);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Appends one record; false when the disk refused it (nothing is left of it).
  bool Append(int64_t receivedMs, const std::string& client, const std::string& target);

  const std::string& Id() const { return m_id; }
  int64_t Generation() const { return m_generation.load(); }
  // The end of the records of the current generation.
  int64_t End() const { return m_end.load(); }
  // Where the first record of a generation starts.
  int64_t Start() const { return static_cast<int64_t>(m_headerSize); }
  // The generation and end of the records appended so far, read together.
  struct Tip {
    int64_t generation;
    int64_t end;
  };
  Tip Now();

  // Records from `from` (of the current generation) up to the end, at most
  // `maxRecords` and about `maxBytes`; `next` is where reading goes on. Bytes that do not read
  // back as a record are skipped up to the next newline and logged.
  struct Batch {
    std::vector<JournalRecord> records;
    int64_t next = 0;
  };
  Batch Read(int64_t from, size_t maxRecords, size_t maxBytes = SIZE_MAX) const;

  // Starts generation + 1 with what follows `storedEnd` (a few MiB at most),
  // dropping the records before it; returns whether it did. The records
  // kept begin at Start() of the new generation.
  bool Restart(int64_t storedEnd);

 private:
  void WriteHeader(int64_t generation);

  std::string m_path;
  int m_fd = -1;
  std::string m_id;
  size_t m_headerSize = 0;
  std::mutex m_appendLock;
  std::atomic<int64_t> m_generation{0};
  std::atomic<int64_t> m_end{0};
  bool m_broken = false;  // a failed write could not be taken back
};
