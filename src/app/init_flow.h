#pragma once

// The decisions of the initialization window, apart from its Win32 shell.
#include <cstdint>
#include <string>

#include "config/game_file_entry.h"

// The finishing run of the bar: +2 per 10 ms tick up to 98, then the result
// is looked at.
constexpr int kInitProgressStep = 2;
constexpr int kInitProgressLast = 98;

// The bar's next value, or -1 once it has reached the last one and the tick
// should evaluate the result instead.
int NextInitProgress(int current);

enum class InitOutcome {
  InitialFailed,          // the retry prompt
  OlderVersion,           // the prompt that sends the player to a new downloader
  DownloadWindowSkinned,  // the download window over the fetched skin picture
  DownloadWindowBuiltIn,  // the download window over its own background
};

// What follows the initialization. Any InitResult other than
// INIT_SKIN_NOT_FETCHED and INIT_ALL_FETCHED is a failure, and so is a list whose first file
// cannot be downloaded.
InitOutcome DecideInitOutcome(int initResult, bool firstItemUsable, bool olderVersion);

// Enter and Escape key messages (WM_KEYDOWN..0x109) are dropped for every
// window of the program, so no prompt or window closes or acts on them.
bool IsSwallowedKeyMessage(unsigned message, std::uintptr_t wParam);

// The desktop shortcut of the program at `programPath`: desktop + "\" + the
// program's base name + ".lnk". The base name is the file name up to its
// last "."; a name without "." gives an empty base name.
std::wstring DesktopShortcutPath(const std::wstring& desktop, const std::wstring& programPath);
// The text after the last "\" (the whole path when there is none).
std::wstring ProgramFileName(const std::wstring& programPath);

// Sum of the sizes of all files, wrapping like the unsigned 64-bit total the
// download window reads.
template <typename List>
std::uint64_t TotalSizeOf(const List& files) {
  std::uint64_t total = 0;
  for (const GameFileEntry& entry : files) total += entry.size;
  return total;
}

// "Brenva网游戏下载器-%s专版" with the game's name.
std::wstring DownloaderTitle(const std::wstring& gameName);
