#pragma once

#include <cstdint>
#include <ostream>
#include <string>

// One downloadable file of the game as the configuration lists it.
struct GameFileEntry {
  uint64_t size = 0;
  std::wstring downloadLink;
  std::wstring md5Text;
};

inline bool operator==(const GameFileEntry& a, const GameFileEntry& b) {
  return a.size == b.size && a.downloadLink == b.downloadLink && a.md5Text == b.md5Text;
}

// Readable test failures.
inline void PrintTo(const GameFileEntry& e, std::ostream* os) {
  *os << "{" << e.size << ", link of " << e.downloadLink.size() << " chars, md5 of " << e.md5Text.size() << " chars}";
}
