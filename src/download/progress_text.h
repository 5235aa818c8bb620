#pragma once

#include <cstdint>
#include <string>

// Window modes of the download window: which action button is shown.
enum DownloadMode : int {
  ModeReady = 0,        // download button: nothing downloaded yet
  ModePaused = 1,       // continue button
  ModeDownloading = 2,  // pause button
  ModeFinished = 3,     // install button
  ModeRestart = 4,      // re-download button
};

// Element id of the action button a mode shows, or 0 for a mode that shows none.
int ActionButtonOfMode(int mode);

// "1.50GB", "1.50MB", "1.50KB" or "500.00B": the largest unit whose integer
// quotient is not 0. The quotient goes through single precision first, so
// large counts round the way the window has always shown them.
std::wstring FormatSize(uint64_t bytes);

// The progress bar's label: "<done>/<total>".
std::wstring SizesText(uint64_t done, uint64_t total);

// "速度：%0.1fKB/s" of bytes per second.
std::wstring SpeedText(uint64_t bytesPerSecond);

// done × 100 / total in 64-bit integers; 0 when the total is 0. A done count
// above the total (a file that grew past its listed size) stays at 100.
int ProgressPercent(uint64_t done, uint64_t total);
