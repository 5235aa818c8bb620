#include "verify/file_check_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "support/temp_folder.h"
#include "verify/file_check.h"

namespace {

class FileCheckWin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_temp.Path().empty());
    m_dir = m_temp.Dir();
  }
  std::wstring Write(const std::wstring& name, const std::vector<uint8_t>& bytes) {
    std::wstring path = m_dir + name;
    ScopedFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(f.Valid());
    DWORD written = 0;
    if (!bytes.empty()) ::WriteFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    EXPECT_EQ(written, bytes.size());
    return path;
  }
  // A file of `size` bytes that holds only a few written bytes at its end.
  std::wstring Sparse(const std::wstring& name, uint64_t size, const std::string& lastBytes) {
    std::wstring path = m_dir + name;
    ScopedFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(f.Valid());
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size - lastBytes.size());
    EXPECT_TRUE(::SetFilePointerEx(f.Get(), at, nullptr, FILE_BEGIN));
    DWORD written = 0;
    ::WriteFile(f.Get(), lastBytes.data(), static_cast<DWORD>(lastBytes.size()), &written, nullptr);
    return path;
  }

  TempFolder m_temp{"gd-filecheck"};
  std::wstring m_dir;
};

std::wstring WideText(const Md5Digest& d) {
  std::string t = FormatMd5Text(d);
  return std::wstring(t.begin(), t.end());
}

const std::wstring kZeroText(32, L'0');

}  // namespace

TEST_F(FileCheckWin, TailRuleOnRealFiles) {
  std::vector<uint8_t> bytes(kMd5TailLimit + 1);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  std::wstring over = Write(L"over.bin", bytes);
  Md5Digest digest;
  ASSERT_TRUE(ComputeFileMd5(over, &digest));
  EXPECT_EQ(digest, Md5Of(bytes.data() + 1, kMd5TailLimit));
  EXPECT_TRUE(VerifyFileMd5(over, WideText(Md5Of(bytes.data() + 1, kMd5TailLimit))));
  EXPECT_FALSE(VerifyFileMd5(over, WideText(Md5Of(bytes.data(), bytes.size()))));

  bytes.pop_back();
  std::wstring exact = Write(L"exact.bin", bytes);
  ASSERT_TRUE(ComputeFileMd5(exact, &digest));
  EXPECT_EQ(digest, Md5Of(bytes.data(), bytes.size()));
  EXPECT_TRUE(IsFileComplete(exact, kMd5TailLimit));
  EXPECT_FALSE(IsFileComplete(exact, kMd5TailLimit + 1));
}

TEST_F(FileCheckWin, MissingAndEmptyFilesGiveTheZeroText) {
  Md5Digest digest;
  digest.fill(1);
  EXPECT_FALSE(ComputeFileMd5(m_dir + L"none.bin", &digest));
  EXPECT_EQ(digest, Md5Digest{});
  EXPECT_TRUE(VerifyFileMd5(m_dir + L"none.bin", kZeroText));
  EXPECT_FALSE(IsFileComplete(m_dir + L"none.bin", 0));

  std::wstring empty = Write(L"empty.bin", {});
  EXPECT_FALSE(ComputeFileMd5(empty, &digest));
  EXPECT_TRUE(VerifyFileMd5(empty, kZeroText));
  EXPECT_FALSE(VerifyFileMd5(empty, L"d41d8cd98f00b204e9800998ecf8427e"));
  EXPECT_FALSE(IsFileComplete(empty, 0));
  EXPECT_EQ(FileSizeForCheck(empty), 0u);
}

TEST_F(FileCheckWin, SameResultEveryTime) {
  std::wstring path = Write(L"again.bin", {1, 2, 3});
  std::wstring text = WideText(Md5Of("\x01\x02\x03", 3));
  EXPECT_TRUE(VerifyFileMd5(path, text));
  EXPECT_TRUE(VerifyFileMd5(path, text));
  Write(L"again.bin", {1, 2, 4});
  EXPECT_FALSE(VerifyFileMd5(path, text)) << "a changed file is read anew";
}

TEST_F(FileCheckWin, FileBeyondFourGigabytes) {
  const uint64_t size = (4ull << 30) + 12345;
  std::wstring path = Sparse(L"huge.bin", size, "tail!");
  EXPECT_EQ(FileSizeForCheck(path), size);
  EXPECT_TRUE(IsFileComplete(path, size));
  EXPECT_FALSE(IsFileComplete(path, size & 0xFFFFFFFFu));
  std::vector<uint8_t> tail(kMd5TailLimit, 0);
  std::copy_n("tail!", 5, tail.end() - 5);
  Md5Digest digest;
  ASSERT_TRUE(ComputeFileMd5(path, &digest));
  EXPECT_EQ(digest, Md5Of(tail.data(), tail.size()));
}
