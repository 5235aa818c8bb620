#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The publisher's mirrors file: one "<file name or h1 text> <base URL>" a
// line, "#" starts a comment. Read again whenever the file changes.
class Mirrors {
 public:
  explicit Mirrors(std::string path) : m_path(std::move(path)) {}

  // The seed answer for a file: each matching base URL + the file name, one
  // a line. A name that is not a plain file name gets no sources.
  std::string Answer(const std::string& h1, const std::string& name);

  static std::vector<std::pair<std::string, std::string>> Parse(const std::string& text);

 private:
  void Refresh();

  std::string m_path;
  std::mutex m_lock;
  bool m_loaded = false;
  struct timespec m_mtime {};
  long long m_size = -1;
  std::vector<std::pair<std::string, std::string>> m_entries;  // (key, base URL)
};
