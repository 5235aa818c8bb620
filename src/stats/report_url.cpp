#include "stats/report_url.h"

#include <string>

namespace {

std::wstring Number(int value) { return std::to_wstring(value); }

}  // namespace

std::wstring BuildReportUrl(const std::wstring& base, const std::wstring& action, const std::wstring& eventName, int tg,
                            int cg, int cwdm, const ReportIdentity& identity) {
  std::wstring url = base + L"?action=" + action;
  if (eventName == kEventStartDownload) url += L"&tg=" + Number(tg);
  if (eventName == kEventCompleteDownload) {
    url += L"&cg=" + Number(cg);
    if (cg == 0) url += L"&cwdm=" + Number(cwdm);
  }
  url += L"&game=" + identity.game;
  url += L"&mid=" + identity.mid + L"&ver=" + identity.ver;
  return url;
}
