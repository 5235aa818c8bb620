#pragma once

#include <string>

#include "contract/report_words.h"
#include "stats/report_url.h"

// Report action codes (the report's words are in contract/report_words.h).
constexpr const wchar_t* kActionStartDownload = report_words::kActionStartDownload.wide;
constexpr const wchar_t* kActionPauseDownload = report_words::kActionPauseDownload.wide;
constexpr const wchar_t* kActionRestartDownload = report_words::kActionRestartDownload.wide;
constexpr const wchar_t* kActionCompleteDownload = report_words::kActionCompleteDownload.wide;
constexpr const wchar_t* kActionRedownload = report_words::kActionRedownload.wide;

// Failure reasons of "CompleteDownload".
constexpr int kFailStalled = report_words::kFailStalled;
constexpr int kFailCheck = report_words::kFailCheck;
constexpr int kFailDownload = report_words::kFailDownload;

// Milestone reports; on Windows these go to the statistics queue. `peers`
// travels with "CompleteDownload" only.
class IReportSink {
 public:
  virtual void Report(const std::wstring& action, const std::wstring& eventName, int tg, int cg, int cwdm,
                      const PeerFigures& peers) = 0;

 protected:
  ~IReportSink() = default;
};
