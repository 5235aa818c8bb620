#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/game_file_entry.h"

// Returns the value of a key, or the empty text when the key is missing.
// On Windows this reads the fetched INI file; tests feed a map.
using ConfigLookup = std::function<std::wstring(const wchar_t* section, const wchar_t* key)>;

// The parsed part of the game's configuration.
struct ConfigValues {
  std::wstring gameName;
  std::wstring seedUrl;
  std::wstring gameVersion;
  std::wstring companionInstallTip;
  std::wstring cancelDownloadTips;
  std::wstring textPromotionTitle;
  std::wstring textPromotionLink;
  std::wstring skinLink;
  std::wstring newVersion;
  std::wstring newVersionDownloaderLink;
  std::wstring embedLink2;
  std::wstring gameStart;
  std::wstring companionLink;
  std::wstring companionMd5;  // optional: the companion runs only when its file matches
  std::wstring safecheck;
  std::wstring domainName;
  std::wstring peerSharing;  // "0": the publisher keeps players from sharing this game
  std::vector<GameFileEntry> files;
  // Why a present value was refused; empty when the parse succeeded or a
  // required key was missing.
  std::wstring refusal;
  // Why the companion was left out (its link and MD5 text are then empty);
  // empty when it was kept or none was configured.
  std::wstring droppedCompanion;
};

// Used when the configuration names no download page for a newer downloader.
extern const wchar_t kDefaultNewVersionDownloaderLink[];

// Reads every key in its fixed order into `values`. Returns false at the first
// missing required key (members read before it keep their values), or, once
// every key is read, when a listed file name or GameStart would leave the save
// directory (then `refusal` says which and the file list stays empty for a
// refused file name). A companion name that would leave its folder drops the
// companion instead (`droppedCompanion` says why).
// The file list is emptied first, so a repeated parse never doubles it.
bool ParseConfiguration(const ConfigLookup& lookup, ConfigValues& values);

// Splits the three parallel comma lists into entries. The result has one
// entry more than the largest number of separators among the lists.
std::vector<GameFileEntry> SplitFileLists(std::wstring sizes, std::wstring links, std::wstring md5s);

// Leading blanks skipped, digits read up to the first non-digit; no digits
// gives 0; a value beyond 64 bits saturates.
uint64_t ParseSizeText(const std::wstring& text);

// The part of a download link after its last "/" (the whole link without one),
// cut at its first "?" or "#".
std::wstring FileNameOfLink(const std::wstring& link);

// True when `name` is a plain file name that stays inside its directory:
// not "." or "..", no path separators, no drive colon, none of the characters
// Windows forbids, no control characters, and not a device name such as NUL.
// The empty name is not judged here.
bool IsSafeFileName(const std::wstring& name);

// True when `name`, taken relative to a folder, names a file inside it: parts
// separated by "\\" or "/" may be "." (".\\setup.exe") or plain names that
// IsSafeFileName accepts; false for the empty name, "..", a drive, a root, a
// UNC name, a device name, or a name that ends at a separator.
bool StaysInFolder(const std::wstring& name);
