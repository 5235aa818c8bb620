#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "journal.h"
#include "report.h"

struct StoreError : std::runtime_error {
  // rowFault: the database refused the row itself (too long for an index, a
  // constraint, bad data), not the connection or the disk; the same row
  // would fail again.
  explicit StoreError(const std::string& what, bool rowFault_ = false) : std::runtime_error(what), rowFault(rowFault_) {}
  bool rowFault;
};

// A query parameter or result cell; nullopt is SQL NULL.
using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

// The reports table on SQLite or PostgreSQL (schema.h makes it, store_sql.h
// holds the statements both share). Statements are written with "?"
// placeholders and the PostgreSQL side numbers them. Writes come from one
// thread (the writer); reads may come from any thread.
class Store {
 public:
  virtual ~Store() = default;
  // All reports and the journal's new mark in one transaction; throws
  // StoreError and stores none of them when it fails.
  virtual void InsertBatch(const std::vector<Report>& reports, const JournalMark& mark) = 0;
  // The same, a row at a time: a row the database refuses (rowFault) goes
  // to the quarantine table with the reason instead; returns how many did.
  // Throws StoreError when anything else fails, and stores none of them.
  virtual size_t InsertEach(const std::vector<Report>& reports, const JournalMark& mark) = 0;
  // From another thread: a write waiting for a lock gives up soon.
  virtual void Interrupt() {}
  // The mark of journal `id`; generation 0 when there is none.
  JournalMark ReadMark(const std::string& id);
  // A statement on the writer's connection (deletes); returns rows changed.
  virtual int64_t Execute(const std::string& sql, const std::vector<Cell>& params) = 0;
  virtual std::vector<Row> Query(const std::string& sql, const std::vector<Cell>& params) = 0;
  virtual const char* Kind() const = 0;

 protected:
  // A statement on the writer's connection, inside InsertBatch's transaction.
  virtual std::vector<Row> WriteQuery(const std::string& sql, const std::vector<Cell>& params) = 0;
  // The number of the report's game (NULL without one), numbering a new
  // game in the running transaction; new numbers go to `fresh` until
  // KeepGameNumbers is called after the commit.
  Cell GameNumber(const Report& r, std::map<std::string, std::string>& fresh);
  void KeepGameNumbers(std::map<std::string, std::string>& fresh);
  // InsertEach on the writer's transaction, already begun: `insert` stores
  // one report, `exec` runs a plain statement; game numbers as GameNumber.
  size_t InsertEachIn(const std::vector<Report>& reports, const std::function<void(const Report&, const Cell&)>& insert,
                      const std::function<void(const char*)>& exec, std::map<std::string, std::string>& fresh);

 private:
  std::map<std::string, std::string> m_gameNumbers;  // committed numbers, by game text
};

// "postgresql://..." or "postgres://..." opens PostgreSQL, anything else is
// an SQLite file. Throws StoreError.
std::unique_ptr<Store> OpenStore(const std::string& where);
bool IsPostgres(const std::string& where);
