#include "store.h"

#include <dirent.h>
#include <sqlite3.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  while (readdir(dir)) ++n;
  closedir(dir);
  return n;
}

// A file SQLite opens but the store cannot use: opening it fails, and fails
// again each time without keeping the connection (its descriptor) open.
TEST(SqliteStore, AFileThatFailsAtOpenLeavesNothingOpen) {
  const struct {
    const char* name;
    const char* setup;  // SQL run on the file first; null: the file holds `bytes`
    const char* bytes;
  } cases[] = {
      {"not a database", nullptr, "these are not the pages of a database, just text that is long enough....."},
      {"reports is a view", "CREATE VIEW reports AS SELECT 1 AS x", nullptr},
      {"an index name taken by a table",
       "CREATE TABLE reports (received BIGINT, day INTEGER, client TEXT, path TEXT, query TEXT, action TEXT,"
       " tg TEXT, cg TEXT, cwdm TEXT, game TEXT, mid TEXT, ver TEXT, malformed INTEGER, game_no INTEGER,"
       " pb BIGINT, ps BIGINT); CREATE TABLE reports_funnel (x)",
       nullptr},
  };
  char folder[] = "/tmp/gd-store-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  for (const auto& c : cases) {
    const std::string path = std::string(folder) + "/" + c.name;
    if (c.setup) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << c.name;
      ASSERT_EQ(sqlite3_exec(db, c.setup, nullptr, nullptr, nullptr), SQLITE_OK) << c.name;
      sqlite3_close(db);
    } else {
      FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr) << c.name;
      std::fputs(c.bytes, f);
      std::fclose(f);
    }
    const int before = OpenDescriptors();
    for (int i = 0; i < 3; ++i) EXPECT_THROW(OpenStore(path), StoreError) << c.name;
    EXPECT_EQ(OpenDescriptors(), before) << c.name;
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
    std::remove((path + "-shm").c_str());
  }
  rmdir(folder);
}

}  // namespace
