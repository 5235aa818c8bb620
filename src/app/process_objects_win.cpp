// The process-wide objects, in one translation unit so that they are built in
// this order before wWinMain and destroyed in reverse after it.
#include "app/process_objects.h"
#include "config/downloader_config.h"
#include "stats/statistics_mgr.h"
#include "ui/message_loop_win.h"

namespace {
CDownloaderConfig g_downloaderConfig;
CUiModule g_uiModule;
}  // namespace

std::deque<GameFileEntry> PendingItems;
uint64_t TotalGameSize = 0;
uint64_t CompletedBytes = 0;
CStatisticsMgr* g_statisticsMgr = new CStatisticsMgr;

CDownloaderConfig& DownloaderConfig() { return g_downloaderConfig; }
CUiModule& UiModule() { return g_uiModule; }
