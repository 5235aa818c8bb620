#pragma once

#include <string>

#include "stats/report_url.h"

// Report action codes.
constexpr const wchar_t kActionStartDownload[] = L"2";
constexpr const wchar_t kActionPauseDownload[] = L"3";
constexpr const wchar_t kActionRestartDownload[] = L"4";
constexpr const wchar_t kActionCompleteDownload[] = L"5";
constexpr const wchar_t kActionRedownload[] = L"6";

// Failure reasons of "CompleteDownload".
constexpr int kFailStalled = 2;
constexpr int kFailCheck = 3;
constexpr int kFailDownload = 4;

// Milestone reports; on Windows these go to the statistics queue. `peers`
// travels with "CompleteDownload" only.
class IReportSink {
 public:
  virtual void Report(const std::wstring& action, const std::wstring& eventName, int tg, int cg, int cwdm,
                      const PeerFigures& peers) = 0;

 protected:
  ~IReportSink() = default;
};
