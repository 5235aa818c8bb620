#include "mirrors.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "contract/text.h"
#include "log.h"

namespace {

using gd_text::AsciiLower;

bool PlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == '/' || c == '\\' || c == '\r' || c == '\n') return false;
  return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> Mirrors::Parse(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string key, base, extra;
    if (!(words >> key)) continue;
    if (!(words >> base) || (words >> extra)) {
      Log("mirrors: skipped line \"%s\" (want: <file name or h1> <base URL>)", line.c_str());
      continue;
    }
    if (base.rfind("http://", 0) != 0 && base.rfind("https://", 0) != 0) {
      Log("mirrors: skipped %s: not an http(s) URL", base.c_str());
      continue;
    }
    entries.emplace_back(key, base);
  }
  return entries;
}

void Mirrors::Refresh() {
  struct stat st {};
  if (stat(m_path.c_str(), &st) != 0) {
    if (m_loaded || m_size != -2) Log("mirrors: cannot read %s; no extra sources", m_path.c_str());
    m_entries.clear();
    m_loaded = false;
    m_size = -2;
    return;
  }
  if (m_loaded && st.st_mtim.tv_sec == m_mtime.tv_sec && st.st_mtim.tv_nsec == m_mtime.tv_nsec && st.st_size == m_size)
    return;
  std::ifstream in(m_path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  m_entries = Parse(text.str());
  m_mtime = st.st_mtim;
  m_size = st.st_size;
  m_loaded = true;
  Log("mirrors: read %zu entries from %s", m_entries.size(), m_path.c_str());
}

std::string Mirrors::Answer(const std::string& h1, const std::string& name) {
  if (!PlainName(name)) return "";
  std::lock_guard<std::mutex> lock(m_lock);
  Refresh();
  const std::string h1Lower = AsciiLower(h1);
  std::string out;
  for (const auto& [key, base] : m_entries) {
    if (key != name && (h1Lower.empty() || AsciiLower(key) != h1Lower)) continue;
    out += base;
    if (base.back() != '/') out += '/';
    for (unsigned char c : name) {
      if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
        out += static_cast<char>(c);
      } else {
        static const char kHex[] = "0123456789ABCDEF";
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    out += '\n';
  }
  return out;
}
