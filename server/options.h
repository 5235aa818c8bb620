#pragma once

#include <set>
#include <string>

// gdserver's command line.
struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string db = "gdserver.sqlite";
  std::string mirrors;
  std::string configs;
  std::set<std::string> reportPaths;
  int retentionDays = 0;
  int threads = 0;  // one per core
  std::string journal;
  int journalMaxKib = 65536;
  std::string dashboardHost;  // empty: the dashboard is served on --listen
  int dashboardPort = 0;
  std::string trustProxy;  // a proxy's address (as inet_ntop writes it) whose X-Forwarded-For is believed
};

// Ends the process with the usage (status 2) on a bad option, or with it on
// stdout (status 0) for --help.
Options ParseArgs(int argc, char** argv);

// An IPv4 or IPv6 address as inet_ntop writes it; empty when `text` is not one.
std::string NormalAddress(const std::string& text);

// The journal file: --journal, else one named after the database.
std::string JournalPath(const Options& options);
