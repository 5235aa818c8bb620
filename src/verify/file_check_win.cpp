#include "verify/file_check_win.h"

#include "base/scoped_win.h"
#include "verify/file_check.h"

namespace {

class Win32ReadableFile : public IReadableFile {
 public:
  explicit Win32ReadableFile(HANDLE file) : m_file(file) {}
  bool Seek(uint64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(m_file, to, nullptr, FILE_BEGIN) != FALSE;
  }
  bool Read(void* buffer, size_t length, size_t* got) override {
    DWORD read = 0;
    DWORD want = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    if (!::ReadFile(m_file, buffer, want, &read, nullptr)) return false;
    *got = read;
    return true;
  }

 private:
  HANDLE m_file;
};

ScopedFile OpenForCheck(const std::wstring& path) {
  return ScopedFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool SizeOf(HANDLE file, uint64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(file, &value)) return false;
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

}  // namespace

bool ComputeFileMd5(const std::wstring& path, Md5Digest* digest) {
  digest->fill(0);
  ScopedFile file = OpenForCheck(path);
  uint64_t size = 0;
  if (!file || !SizeOf(file.Get(), &size)) return false;
  Win32ReadableFile reader(file.Get());
  return Md5OfFileTail(reader, size, digest);
}

bool VerifyFileMd5(const std::wstring& path, const std::wstring& expected) {
  Md5Digest digest;
  ComputeFileMd5(path, &digest);
  return Md5TextMatches(digest, expected);
}

uint64_t FileSizeForCheck(const std::wstring& path) {
  ScopedFile file = OpenForCheck(path);
  uint64_t size = 0;
  if (!file || !SizeOf(file.Get(), &size)) return 0;
  return size;
}

bool IsFileComplete(const std::wstring& path, uint64_t expectedSize) {
  return IsCompleteSize(FileSizeForCheck(path), expectedSize);
}
