#pragma once

#include <cstdint>
#include <string>

// Event names that add parameters to a report; every other name adds none.
constexpr const wchar_t kEventStartDownload[] = L"StartDownload";
constexpr const wchar_t kEventCompleteDownload[] = L"CompleteDownload";

// The values a report carries besides its event.
struct ReportIdentity {
  std::wstring game;  // game key
  std::wstring mid;   // machine identifier, empty when unknown
  std::wstring ver;   // the program's file version text
};

// What this process shared with other players, sent with "CompleteDownload".
struct PeerFigures {
  uint64_t received = 0;  // bytes of the game's files that came from other players in this run
  uint64_t served = 0;    // bytes this process served to other players
};

// The request URL of one report. `base` is the report server's page and is
// used as it is; no value is encoded. tg is sent with "StartDownload" only,
// cg with "CompleteDownload" only, and cwdm only when cg is 0.
// "CompleteDownload" ends with pb and ps, the two figures of `peers`.
std::wstring BuildReportUrl(const std::wstring& base, const std::wstring& action, const std::wstring& eventName, int tg,
                            int cg, int cwdm, const ReportIdentity& identity, const PeerFigures& peers = PeerFigures());
