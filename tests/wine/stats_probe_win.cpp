// Drives the statistics pieces of the program the way the program does, with
// the program's own process objects (configuration, statistics manager and
// download-time listener built before wmain). Commands run in order:
//   start                              start the sender
//   report BASE ACTION EVENT TG CG CWDM   queue a report; prints "queued <unix ms>"
//   sleep MS
//   mid                                prints "mid <result> <identifier>"
//   dl-start | dl-stop                 the engine's listener hears a start / stop
//   dl-total                           prints "dl-total <ms>"
//   registered                         prints "registered 1" when the listener is the engine's
//   reset-resume                       empties the resume file
//   resume-path                        prints "resume-path <path>"
#include <windows.h>

#include <cwchar>
#include <string>

#include "config/downloader_config.h"
#include "engine/download_manager.h"
#include "probe_output_win.h"
#include "state/resume_state_win.h"
#include "stats/report.h"
#include "stats/statistics_dl_event.h"
#include "stats/statistics_mgr.h"

namespace {

unsigned long long UnixMilliseconds() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return t.QuadPart / 10000ULL - 11644473600000ULL;
}

bool Is(const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b) == 0; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Touching the configuration links the process objects in.
  PrintLine(L"key %ls", DownloaderConfig().GetGameKey().c_str());
  for (int i = 1; i < argc; ++i) {
    const wchar_t* cmd = argv[i];
    if (Is(cmd, L"start")) {
      StatisticsMgr().Start();
    } else if (Is(cmd, L"report") && i + 6 < argc) {
      PrintLine(L"queued %llu", UnixMilliseconds());
      Report(argv[i + 1], argv[i + 2], argv[i + 3], _wtoi(argv[i + 4]), _wtoi(argv[i + 5]), _wtoi(argv[i + 6]));
      i += 6;
    } else if (Is(cmd, L"sleep") && i + 1 < argc) {
      ::Sleep(static_cast<DWORD>(_wtoi(argv[++i])));
    } else if (Is(cmd, L"mid")) {
      std::wstring id;
      int result = GetMachineId(id);
      PrintLine(L"mid %d %ls", result, id.c_str());
    } else if (Is(cmd, L"dl-start") || Is(cmd, L"dl-stop")) {
      CDownloadManager::ICDownloadManagerCallback* listener = CDownloadManager::Instance().GetCallback();
      if (listener) listener->OnTaskStateChanged(Is(cmd, L"dl-start") ? 0 : 1);
    } else if (Is(cmd, L"dl-total")) {
      PrintLine(L"dl-total %llu", static_cast<unsigned long long>(StatisticsDLEvent().GetDownloadTotalTime()));
    } else if (Is(cmd, L"registered")) {
      PrintLine(L"registered %d", CDownloadManager::Instance().GetCallback() == &StatisticsDLEvent() ? 1 : 0);
    } else if (Is(cmd, L"reset-resume")) {
      ResumeState().ResetResumeFile();
    } else if (Is(cmd, L"resume-path")) {
      PrintLine(L"resume-path %ls", GetResumeFilePath(DownloaderConfig().GetGameKey()).c_str());
    } else {
      PrintLine(L"unknown %ls", cmd);
      return 2;
    }
  }
  return 0;
}
