#include "stats/report_url.h"

#include <string>

#include "contract/report_words.h"

using namespace report_words;

namespace {

// "&<name>=<value>", the value as it is.
std::wstring Field(const wchar_t* name, const std::wstring& value) { return L"&" + std::wstring(name) + L"=" + value; }

std::wstring Number(int value) { return std::to_wstring(value); }

}  // namespace

std::wstring BuildReportUrl(const std::wstring& base, const std::wstring& action, const std::wstring& eventName, int tg,
                            int cg, int cwdm, const ReportIdentity& identity, const PeerFigures& peers) {
  std::wstring url = base + L"?" + kFieldAction.wide + L"=" + action;
  if (eventName == kEventStartDownload) url += Field(kFieldTg.wide, Number(tg));
  if (eventName == kEventCompleteDownload) {
    url += Field(kFieldCg.wide, Number(cg));
    if (cg == kFailed) url += Field(kFieldCwdm.wide, Number(cwdm));
  }
  url += Field(kFieldGame.wide, identity.game);
  url += Field(kFieldMid.wide, identity.mid) + Field(kFieldVer.wide, identity.ver);
  // At the end, so that readers of the older reports find every field where it was.
  if (eventName == kEventCompleteDownload) {
    url += Field(kFieldPb.wide, std::to_wstring(peers.received)) + Field(kFieldPs.wide, std::to_wstring(peers.served));
  }
  return url;
}
