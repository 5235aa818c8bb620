#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/game_file_entry.h"

// Zero-speed polls tolerated before a restart, and restarts before giving up.
constexpr unsigned kStallPolls = 90;
constexpr unsigned kMaxRestarts = 3;
// Zero-speed polls after which the companion download is given up.
constexpr int kCompanionIdlePolls = 5;
// Seconds to wait for a finished file to show up at its path.
constexpr int kFileWaitTicks = 30;

// Where the download of the list stands; docs/download-flow.md draws the
// moves between these. The item mutex is held by the driver exactly in the
// states marked "item".
enum class DownloadFlow {
  Idle,          // nothing started (or a start was refused): download button
  Starting,      // item: the folder of the next file is being checked
  Downloading,   // item: the companion or the game task runs, poll timer on
  Offline,       // item: tasks parked, reconnect timer on
  WaitingFile,   // item: the engine said finished, waiting for the file
  Paused,        // item (once continued): tasks stopped by the player
  BetweenFiles,  // a file ended well; the auto-continue thread starts the next
  ListStopped,   // the list stopped before a file (refused folder, pause
                 // between files, a later start): continue starts that file
  Failed,        // a prompt offered the way on; the item is let go
  Complete,      // every file is there and checked
  Closed,        // the engine is shut down; nothing runs any more
};

// The configuration values the download needs.
struct DownloadSettings {
  std::vector<GameFileEntry> fileList;
  std::wstring safecheck;      // "1": MD5 check; "0": no check of a file already there
  std::wstring gameStart;      // installer of a several-file game
  std::wstring companionLink;  // the configuration's GardboxDownloaderLink
  std::wstring tempDir;        // where the companion installer goes, ending in "\"
  std::wstring seedUrl;
};

// What one poll showed.
struct PollDisplay {
  uint64_t done = 0;
  uint64_t total = 0;
  uint64_t speed = 0;
  int percent = 0;
};
