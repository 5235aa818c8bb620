// gamecfg on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "gamecfg.h"
#include "verify/file_check.h"

namespace {

class PosixReadableFile : public IReadableFile {
 public:
  explicit PosixReadableFile(int fd) : m_fd(fd) {}
  bool Seek(uint64_t offset) override {
    return ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
  }
  bool Read(void* buffer, size_t length, size_t* got) override {
    for (;;) {
      ssize_t n = ::read(m_fd, buffer, length);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      *got = static_cast<size_t>(n);
      return true;
    }
  }

 private:
  int m_fd;
};

class PosixHost : public IGamecfgHost {
 public:
  bool ReadWholeFile(const std::string& path, std::string* bytes) override {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
  }
  bool ReadFileAt(const std::string& path, uint64_t offset, size_t size, std::string* bytes) override {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    bytes->assign(size, '\0');
    size_t have = 0;
    bool ok = true;
    while (have < size) {
      ssize_t n = ::pread(fd, &(*bytes)[have], size - have, static_cast<off_t>(offset + have));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      have += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes->resize(have);
    return ok;
  }
  bool WriteWholeFile(const std::string& path, const std::string& bytes) override {
    const std::string temp = path + ".gamecfg-tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    std::remove(temp.c_str());
    return false;
  }
  bool StatFile(const std::string& path, bool* isRegularFile, uint64_t* size) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    *isRegularFile = S_ISREG(st.st_mode);
    *size = *isRegularFile ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
  }
  bool FileMd5(const std::string& path, Md5Digest* digest) override {
    digest->fill(0);
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    bool ok = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      PosixReadableFile file(fd);
      ok = Md5OfFileTail(file, static_cast<uint64_t>(st.st_size), digest);
    }
    ::close(fd);
    return ok;
  }
  std::string BaseName(const std::string& path) override {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }
  std::string JoinPath(const std::string& dir, const std::string& name) override {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
  }
  void Out(const std::string& bytes) override { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }
  void Err(const std::string& text) override { std::fwrite(text.data(), 1, text.size(), stderr); }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  PosixHost host;
  int code = RunGamecfg(args, host);
  if (std::fflush(stdout) != 0) return code ? code : 2;
  return code;
}
