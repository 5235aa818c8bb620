#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store.h"

// Players are counted by distinct non-empty machine identifier (mid).
struct Funnel {
  int64_t initial = 0;   // action 1
  int64_t start = 0;     // action 2
  int64_t complete = 0;  // action 5 with cg=1
  int64_t failed = 0;    // action 5 with cg=0
};

struct DayFigures {
  int64_t day = 0;  // days since the epoch (UTC)
  int64_t started = 0, finished = 0, failed = 0;  // reports
};

struct Labelled {
  std::string label;
  int64_t count = 0;
};

// Finished downloads (CompleteDownload with cg=1) and what their players
// got from other players: of one game on one day, or summed.
struct SharingFigures {
  std::string game;  // the game key; empty in sums
  int64_t day = 0;   // days since the epoch (UTC); 0 in sums over days
  int64_t finished = 0;
  double peerBytes = 0;    // sum of pb (absent: 0)
  double servedBytes = 0;  // sum of ps (absent: 0)
  // What the players received in total: the game's size (GameSize of its
  // configuration) per finished download; 0 without a configuration.
  double deliveredBytes = 0;
  // pb of the downloads whose game's size is known, the share's part.
  double peerBytesSized = 0;
  // The part of the delivered bytes that came from players rather than from
  // the publisher: pb / (pb + the publisher's bytes, the size less pb, at
  // least 0). Negative when no game's size is known.
  double Share() const;
  void Add(const SharingFigures& other);
};

// Every figure of one game (game empty: all games).
struct Figures {
  Funnel funnel;
  // Players whose machine identifier could not be had (mid empty): one per
  // address, version and day.
  Funnel unidentified;
  std::vector<Labelled> failures;  // by cwdm 2, 3, 4 and "other", failed downloads (reports)
  std::vector<DayFigures> days;    // the last `kDays` days with data
  std::vector<Labelled> versions;  // players by downloader version, the kVersions most used
  int64_t reports = 0, malformed = 0;
  // Per game and day over the last kDays days (at most kSharingRows, the
  // newest first cut), in order of day and game; and their sum.
  std::vector<SharingFigures> sharing;
  SharingFigures sharingTotal;
};

constexpr int kDays = 30;
constexpr int kVersions = 12;
constexpr int kSharingRows = 1000;

Funnel QueryFunnel(Store& store, const std::string& game);
Funnel QueryUnidentified(Store& store, const std::string& game);
// `sizes`: each game's total bytes, by game key (from the configurations).
Figures QueryFigures(Store& store, const std::string& game, int64_t nowMs,
                     const std::map<std::string, uint64_t>& sizes = {});
std::vector<Labelled> QueryGames(Store& store);  // reports per game key

std::string JsonString(const std::string& text);
std::string FunnelJson(const Funnel& f);
std::string FiguresJson(const Figures& f);
std::string GamesJson(const std::vector<Labelled>& games, const std::map<std::string, std::string>& names);

// What the program's cwdm codes mean ("other": any other or none).
std::string FailureReason(const std::string& cwdm);
