#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // sync_file_range
#endif
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "file_io.h"

namespace p2sp {

RandomFile::~RandomFile() { Close(); }

bool RandomFile::Open(const std::string& path, bool create) {
  Close();
  m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  return m_fd >= 0;
}

bool RandomFile::OpenForReading(const std::string& path) {
  Close();
  m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return m_fd >= 0;
}

bool RandomFile::IsOpen() const { return m_fd >= 0; }

void RandomFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool RandomFile::ReadAt(uint64_t offset, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = ::pread(m_fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool RandomFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(m_fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool RandomFile::Allocate(uint64_t size) {
  int err = ::posix_fallocate(m_fd, 0, static_cast<off_t>(size));
  if (err == 0) return true;
  // File systems without fallocate still take a plain length change.
  if (err == EOPNOTSUPP || err == EINVAL) return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
  return false;
}

bool RandomFile::Truncate(uint64_t size) { return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0; }

bool RandomFile::Sync() { return ::fdatasync(m_fd) == 0; }

void RandomFile::StartWriteback() {
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

uint64_t RandomFile::Size() {
  struct stat st;
  if (::fstat(m_fd, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool RenameReplacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  // The rename itself must survive a power cut too.
  std::string dir = to.substr(0, to.find_last_of('/') == std::string::npos ? 0 : to.find_last_of('/'));
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

}  // namespace p2sp
