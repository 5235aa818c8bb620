#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace p2sp {

// A file written at arbitrary offsets. Paths are UTF-8; the Windows half turns
// them into UTF-16 so that any name the user can make works.
class RandomFile {
 public:
  RandomFile() = default;
  ~RandomFile();
  RandomFile(const RandomFile&) = delete;
  RandomFile& operator=(const RandomFile&) = delete;

  bool Open(const std::string& path, bool create);
  // Read-only, beside a writer that has the file open.
  bool OpenForReading(const std::string& path);
  bool IsOpen() const;
  void Close();
  bool ReadAt(uint64_t offset, void* data, size_t size);
  bool WriteAt(uint64_t offset, const void* data, size_t size);
  // Sets the length to `size` and makes sure the space is there, so that a full
  // disk shows at once. On Windows the file is made sparse first (see
  // file_io_win.cpp).
  bool Allocate(uint64_t size);
  bool Truncate(uint64_t size);
  bool Sync();
  // Starts writing cached data out without waiting, so a later Sync has less to do.
  void StartWriteback();
  uint64_t Size();

 private:
#ifdef _WIN32
  void* m_handle = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
  std::wstring m_folder;  // with its trailing separator; empty: the current folder
  bool m_sparse = false;
#else
  int m_fd = -1;
#endif
};

#ifdef _WIN32
// The system calls that lay a file out, in one table so that a test can watch
// their order or make them fail.
struct FileLayoutCalls {
  bool (*markSparse)(void* handle);                                // FSCTL_SET_SPARSE
  bool (*setLength)(void* handle, uint64_t size);                  // SetEndOfFile
  bool (*freeBytes)(const std::wstring& folder, uint64_t* bytes);  // for the caller, quotas included
};
FileLayoutCalls& LayoutCalls();
#endif

bool FileExists(const std::string& path);
bool RemoveFile(const std::string& path);
// Replaces `to` if it is there.
bool RenameReplacing(const std::string& from, const std::string& to);

}  // namespace p2sp
