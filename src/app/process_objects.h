#pragma once

#include <cstdint>
#include <deque>

#include "config/game_file_entry.h"

// Download progress values of the process, written on the UI thread only.
extern std::deque<GameFileEntry> PendingItems;
extern uint64_t TotalGameSize;
extern uint64_t CompletedBytes;
