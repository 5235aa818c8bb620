#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

// What the publisher's configurations tell the server: each game's name by
// its game key, and the report paths their DomainName values name.
struct GameDirectory {
  std::map<std::string, std::string> names;  // game key -> GameName (UTF-8)
  // game key -> the bytes of all its files (GameSize), for configurations
  // the program accepts and whose sizes add up to more than 0.
  std::map<std::string, uint64_t> sizes;
  std::set<std::string> reportPaths;
};

// Reads every "<game key>.html" in `dir` with the program's own parse.
GameDirectory ReadConfigurations(const std::string& dir);

// The path part of a DomainName value ("http://host:port/s.php" -> "/s.php");
// empty when the value names no path.
std::string PathOfUrl(const std::string& url);
