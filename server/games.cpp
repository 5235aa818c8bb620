#include "games.h"

#include <dirent.h>

#include <fstream>
#include <sstream>

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
    std::ifstream in(dir + "/" + file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const ProfileDocument doc(DecodeProfileBytes(bytes.str()).text);
    ConfigValues values;
    std::wstring name, domain;
    if (ParseConfiguration([&doc](const wchar_t* s, const wchar_t* k) { return doc.Lookup(s, k); }, values)) {
      name = values.gameName;
      domain = values.domainName;
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
