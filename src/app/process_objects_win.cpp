// The process-wide objects, in one translation unit so that they are built in
// this order before wWinMain and destroyed in reverse after it.
#include "app/process_objects.h"
#include "config/downloader_config.h"
#include "engine/download_manager.h"
#include "stats/statistics_dl_event.h"
#include "stats/statistics_mgr.h"
#include "ui/message_loop_win.h"

namespace {
CDownloaderConfig g_downloaderConfig;
CUiModule g_uiModule;
}  // namespace

std::deque<GameFileEntry> PendingItems;
uint64_t TotalGameSize = 0;
uint64_t CompletedBytes = 0;

namespace {
CStatisticsMgr* const g_statisticsMgr = new CStatisticsMgr;
// Loads the stored download time and registers with the download manager,
// which brings the engine in before wWinMain; stores the time again at exit.
CStatisticsDLEvent g_statisticsDLEvent;

}  // namespace

CDownloaderConfig& DownloaderConfig() { return g_downloaderConfig; }
CUiModule& UiModule() { return g_uiModule; }
CStatisticsDLEvent& StatisticsDLEvent() { return g_statisticsDLEvent; }
CStatisticsMgr& StatisticsMgr() { return *g_statisticsMgr; }

CDownloadManager& CDownloadManager::Instance() {
  // First reached while the process-wide objects are built (by the
  // download-time listener), after the configuration object has fixed the
  // engine's path.
  static CDownloadManager manager(DownloaderConfig().GetEngineLibraryPath());
  return manager;
}
