#include <windows.h>
#include <winioctl.h>

#include "file_io.h"
#include "text.h"

namespace p2sp {
namespace {

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

bool MarkSparse(void* handle) {
  DWORD got = 0;
  return ::DeviceIoControl(H(handle), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got, nullptr) != 0;
}

bool SetLength(void* handle, uint64_t size) {
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(H(handle), li, nullptr, FILE_BEGIN) && ::SetEndOfFile(H(handle));
}

bool FreeBytes(const std::wstring& folder, uint64_t* bytes) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr)) return false;
  *bytes = available.QuadPart;
  return true;
}

}  // namespace

FileLayoutCalls& LayoutCalls() {
  static FileLayoutCalls calls = {MarkSparse, SetLength, FreeBytes};
  return calls;
}

RandomFile::~RandomFile() { Close(); }

bool RandomFile::Open(const std::string& path, bool create) {
  Close();
  std::wstring wide = Utf8ToWide(path);
  m_handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  size_t cut = wide.find_last_of(L"\\/");
  m_folder = cut == std::wstring::npos ? std::wstring() : wide.substr(0, cut + 1);
  m_sparse = false;
  return IsOpen();
}

bool RandomFile::OpenForReading(const std::string& path) {
  Close();
  std::wstring wide = Utf8ToWide(path);
  // The downloader keeps its handle with write access, so this one must share writing.
  m_handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpen();
}

bool RandomFile::IsOpen() const { return H(m_handle) != INVALID_HANDLE_VALUE; }

void RandomFile::Close() {
  if (IsOpen()) ::CloseHandle(H(m_handle));
  m_handle = INVALID_HANDLE_VALUE;
  m_sparse = false;
}

bool RandomFile::ReadAt(uint64_t offset, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    OVERLAPPED ov = {};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size), got = 0;
    if (!::ReadFile(H(m_handle), p, chunk, &got, &ov) || got == 0) return false;
    p += got;
    size -= got;
    offset += got;
  }
  return true;
}

bool RandomFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    OVERLAPPED ov = {};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size), put = 0;
    if (!::WriteFile(H(m_handle), p, chunk, &put, &ov) || put == 0) return false;
    p += put;
    size -= put;
    offset += put;
  }
  return true;
}

bool RandomFile::Truncate(uint64_t size) { return LayoutCalls().setLength(m_handle, size); }

// The data arrives out of order, the last 52428800 bytes first. NTFS keeps a
// valid data length per file and fills everything between it and a write with
// zeros before that write returns: without the sparse mark, the first write of
// the tail of a 4 GiB file would wait for some 4 GiB of zeros. A sparse file
// has no such fill (its ranges never written read as zeros). Marking needs no
// privilege; where the volume cannot (FAT32) the download goes on without it.
// A sparse file reserves no clusters when its end moves, so the free space is
// checked here instead, and a full disk still fails before the first byte.
bool RandomFile::Allocate(uint64_t size) {
  FileLayoutCalls& calls = LayoutCalls();
  if (!m_sparse) m_sparse = calls.markSparse(m_handle);
  if (m_sparse) {
    uint64_t have = Size(), available = 0;
    if (size > have && calls.freeBytes(m_folder, &available) && available < size - have) return false;
  }
  return calls.setLength(m_handle, size);
}

bool RandomFile::Sync() { return ::FlushFileBuffers(H(m_handle)) != 0; }

void RandomFile::StartWriteback() {}  // the cache manager writes behind on its own

uint64_t RandomFile::Size() {
  LARGE_INTEGER li;
  if (!::GetFileSizeEx(H(m_handle), &li)) return 0;
  return static_cast<uint64_t>(li.QuadPart);
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(Utf8ToWide(path).c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace p2sp
