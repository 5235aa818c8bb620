// The process-wide objects, in one translation unit so that they are built in
// this order before wWinMain and destroyed in reverse after it.
#include "config/downloader_config.h"
#include "engine/download_manager.h"
#include "state/resume_state_win.h"
#include "stats/statistics_dl_event.h"
#include "stats/statistics_mgr.h"
#include "ui/message_loop_win.h"

namespace {
CDownloaderConfig g_downloaderConfig;
CUiModule g_uiModule;
CStatisticsMgr* const g_statisticsMgr = new CStatisticsMgr;
// Loads the stored download time and registers with the download manager,
// which brings the engine in before wWinMain; stores the time again at exit.
CStatisticsDLEvent g_statisticsDLEvent;

}  // namespace

CDownloaderConfig& DownloaderConfig() { return g_downloaderConfig; }
CUiModule& UiModule() { return g_uiModule; }
CStatisticsDLEvent& StatisticsDLEvent() { return g_statisticsDLEvent; }
CStatisticsMgr& StatisticsMgr() { return *g_statisticsMgr; }

CResumeState& ResumeState() {
  static CProfileResumeStore store(GetResumeFilePath(DownloaderConfig().GetGameKey()));
  static CResumeState state(store);
  return state;
}

CDownloadManager& CDownloadManager::Instance() {
  // First reached while the process-wide objects are built (by the
  // download-time listener), after the configuration object has fixed the
  // engine's path.
  static CDownloadManager manager(DownloaderConfig().GetEngineLibraryPath());
  return manager;
}
