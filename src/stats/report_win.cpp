#include <windows.h>

#include <string>

#include "base/scoped_win.h"
#include "config/downloader_config.h"
#include "engine/resource_extract.h"
#include "stats/report.h"
#include "stats/report_url.h"
#include "stats/statistics_mgr.h"

namespace {

constexpr int kMachineIdChars = 100;

using GetCIDWFn = int(__stdcall*)(wchar_t* buffer, int capacity);

}  // namespace

void Report(const std::wstring& base, const std::wstring& action, const std::wstring& eventName, int tg, int cg,
            int cwdm, const PeerFigures& peers) {
  ReportIdentity identity;
  identity.game = DownloaderConfig().GetGameKey();
  GetMachineId(identity.mid);
  identity.ver = DownloaderConfig().GetVersion();
  const std::wstring url = BuildReportUrl(base, action, eventName, tg, cg, cwdm, identity, peers);
  StatisticsMgr().QueueReport(url);
}

int GetMachineId(std::wstring& id) {
  static wchar_t cache[kMachineIdChars] = {};
  id = cache;
  if (!id.empty()) return 1;

  const std::wstring path = DownloaderConfig().GetIdentityLibraryPath();
  if (path.empty()) return 0;
  ::DeleteFileW(path.c_str());
  if (!ExtractResourceToFile(kIdentityLibraryResourceId, kIdentityLibraryResourceType, path)) return 0;
  int result = 0;
  {
    ScopedModule module(::LoadLibraryW(path.c_str()));
    if (module) {
      auto getCid = reinterpret_cast<GetCIDWFn>(reinterpret_cast<void*>(::GetProcAddress(module.Get(), "GetCIDW")));
      if (getCid) result = getCid(cache, kMachineIdChars);
    }
  }
  ::DeleteFileW(path.c_str());
  // Whatever the library left behind counts only when it said yes, and it
  // must not run past the buffer.
  cache[kMachineIdChars - 1] = L'\0';
  if (!result) cache[0] = L'\0';
  id = cache;
  return result && !id.empty() ? 1 : 0;
}
