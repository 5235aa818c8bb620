#include "games.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


#include "config/config_parse.h"
#include "config/profile_text.h"
#include "log.h"

std::string PathOfUrl(const std::string& url) {
  size_t start = 0;
  const size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    start = url.find('/', scheme + 3);
    if (start == std::string::npos) return "";
  }
  std::string path = url.substr(start);
  const size_t cut = path.find_first_of("?#");
  if (cut != std::string::npos) path.erase(cut);
  if (path.empty() || path[0] != '/') return "";
  return path;
}

namespace {

// A FIFO or a device would block or never end: only regular files are read,
// opened without waiting for a writer.
bool ReadRegularFile(const std::string& path, std::string* out) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= (1 << 20);
  if (ok) {
    out->resize(static_cast<size_t>(st.st_size));
    ok = pread(fd, out->data(), out->size(), 0) == static_cast<ssize_t>(out->size());
  }
  close(fd);
  return ok;
}

}  // namespace

GameDirectory ReadConfigurations(const std::string& dir) {
  GameDirectory out;
  DIR* d = opendir(dir.c_str());
  if (!d) {
    Log("configs: cannot open folder %s", dir.c_str());
    return out;
  }
  while (dirent* e = readdir(d)) {
    const std::string file = e->d_name;
    if (file.size() <= 5 || file.compare(file.size() - 5, 5, ".html") != 0) continue;
    const std::string key = file.substr(0, file.size() - 5);
    std::string bytes;
    if (!ReadRegularFile(dir + "/" + file, &bytes)) {
      Log("configs: skipped %s: not a regular file of at most 1 MiB", file.c_str());
      continue;
    }
    const ProfileDocument doc(DecodeProfileBytes(bytes).text);
    ConfigValues values;
    std::wstring name, domain;
    if (ParseConfiguration([&doc](const wchar_t* s, const wchar_t* k) { return doc.Lookup(s, k); }, values)) {
      name = values.gameName;
      domain = values.domainName;
      uint64_t size = 0;
      for (const GameFileEntry& f : values.files) size = f.size > UINT64_MAX - size ? UINT64_MAX : size + f.size;
      if (size > 0) out.sizes[key] = size;
    } else {
      // The program would refuse it, but its name still labels its reports.
      Log("configs: %s is not a configuration the program accepts", file.c_str());
      name = doc.Lookup(L"GameConfig", L"GameName");
      domain = doc.Lookup(L"Gardbox", L"DomainName");
    }
    if (!name.empty()) out.names[key] = WideToUtf8(name);
    const std::string path = PathOfUrl(WideToUtf8(domain));
    if (!path.empty()) out.reportPaths.insert(path);
  }
  closedir(d);
  Log("configs: %zu games, %zu report paths from %s", out.names.size(), out.reportPaths.size(), dir.c_str());
  return out;
}
