#include "stats/report_url.h"

#include <string>

namespace {

std::wstring Number(int value) { return std::to_wstring(value); }

}  // namespace

std::wstring BuildReportUrl(const std::wstring& base, const std::wstring& action, const std::wstring& eventName, int tg,
                            int cg, int cwdm, const ReportIdentity& identity, const PeerFigures& peers) {
  std::wstring url = base + L"?action=" + action;
  if (eventName == kEventStartDownload) url += L"&tg=" + Number(tg);
  if (eventName == kEventCompleteDownload) {
    url += L"&cg=" + Number(cg);
    if (cg == 0) url += L"&cwdm=" + Number(cwdm);
  }
  url += L"&game=" + identity.game;
  url += L"&mid=" + identity.mid + L"&ver=" + identity.ver;
  // At the end, so that readers of the older reports find every field where it was.
  if (eventName == kEventCompleteDownload) {
    url += L"&pb=" + std::to_wstring(peers.received) + L"&ps=" + std::to_wstring(peers.served);
  }
  return url;
}
