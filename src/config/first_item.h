#pragma once

#include <string>

#include "config/game_file_entry.h"

// Whether the download can begin with this entry: it names a file, has a
// size, has a link, and the copy carries a game key.
bool IsUsableDownloadItem(const GameFileEntry& entry, const std::wstring& gameKey);

// The rule applied to the front of the queue of files still to download; an
// empty queue has nothing to start with.
template <typename Queue>
bool IsFirstDownloadItemUsable(const Queue& pending, const std::wstring& gameKey) {
  return !pending.empty() && IsUsableDownloadItem(pending.front(), gameKey);
}
