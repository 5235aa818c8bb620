#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/file_io.h"

namespace p2sp {
namespace {

// Watches the file layer's system calls and can make them fail, as a volume
// without sparse files (FAT32) or a full disk would.
struct Watch {
  static std::vector<std::string> calls;
  static bool sparseWorks;
  static uint64_t freeBytes;  // 0: the query fails
  static FileLayoutCalls real;

  static bool MarkSparse(void* h) {
    calls.push_back("sparse");
    return sparseWorks && real.markSparse(h);
  }
  static bool SetLength(void* h, uint64_t size) {
    calls.push_back("length " + std::to_string(size));
    return real.setLength(h, size);
  }
  static bool FreeBytes(const std::wstring&, uint64_t* bytes) {
    calls.push_back("free");
    *bytes = freeBytes;
    return freeBytes != 0;
  }
};
std::vector<std::string> Watch::calls;
bool Watch::sparseWorks = true;
uint64_t Watch::freeBytes = 0;
FileLayoutCalls Watch::real;

class FileLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, dir), 0u);
    m_path = std::string(dir, dir + wcslen(dir)) + "p2sp-layout-test.bin";
    ::DeleteFileA(m_path.c_str());
    Watch::real = LayoutCalls();
    LayoutCalls() = {Watch::MarkSparse, Watch::SetLength, Watch::FreeBytes};
    Watch::calls.clear();
  }
  void TearDown() override {
    LayoutCalls() = Watch::real;
    ::DeleteFileA(m_path.c_str());
  }
  std::string m_path;
};

TEST_F(FileLayout, SideFileIsMadeSparseBeforeItsLengthIsSet) {
  // As the engine lays a side file out when the size becomes known.
  struct Case {
    const char* name;
    bool sparseWorks;
    uint64_t freeBytes;
    bool allocated;
    std::vector<std::string> calls;
  };
  const uint64_t size = 300ull << 20;
  const std::string set = "length " + std::to_string(size);
  const std::vector<Case> cases = {
      {"sparse volume with room", true, size + 1, true, {"length 0", "sparse", "free", set}},
      {"free space unknown", true, 0, true, {"length 0", "sparse", "free", set}},
      {"full disk fails before the length moves", true, size - 1, false, {"length 0", "sparse", "free"}},
      // The end of a file that is not sparse reserves its clusters itself.
      {"no sparse files on the volume (FAT32)", false, 1, true, {"length 0", "sparse", set}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Watch::sparseWorks = c.sparseWorks;
    Watch::freeBytes = c.freeBytes;
    Watch::calls.clear();
    RandomFile f;
    ASSERT_TRUE(f.Open(m_path, true));
    ASSERT_TRUE(f.Truncate(0));
    EXPECT_EQ(f.Allocate(size), c.allocated);
    EXPECT_EQ(Watch::calls, c.calls);
    EXPECT_EQ(f.Size(), c.allocated ? size : 0u);
    // Laid out again (another size from the server): marked once per opening.
    if (c.allocated) {
      Watch::calls.clear();
      EXPECT_TRUE(f.Allocate(size / 2));
      std::vector<std::string> again = {"length " + std::to_string(size / 2)};
      if (!c.sparseWorks) again.insert(again.begin(), "sparse");  // asked again: it costs little
      EXPECT_EQ(Watch::calls, again);
    }
    f.Close();
    ::DeleteFileA(m_path.c_str());
  }
}

TEST_F(FileLayout, TheTailWrittenFirstReadsBackWithZerosBeforeIt) {
  Watch::sparseWorks = true;
  Watch::freeBytes = 1ull << 40;
  RandomFile f;
  ASSERT_TRUE(f.Open(m_path, true));
  const uint64_t size = 64ull << 20;
  ASSERT_TRUE(f.Allocate(size));
  const std::string tail(4096, 'T');
  ASSERT_TRUE(f.WriteAt(size - tail.size(), tail.data(), tail.size()));
  std::string head(4096, 'x'), back(4096, 'x');
  ASSERT_TRUE(f.ReadAt(size / 2, &head[0], head.size()));
  ASSERT_TRUE(f.ReadAt(size - tail.size(), &back[0], back.size()));
  EXPECT_EQ(head, std::string(4096, '\0'));
  EXPECT_EQ(back, tail);
  EXPECT_EQ(f.Size(), size);
}

}  // namespace
}  // namespace p2sp
