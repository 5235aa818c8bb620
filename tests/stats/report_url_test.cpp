#include "stats/report_url.h"

#include <gtest/gtest.h>

namespace {

const ReportIdentity kId = {L"{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}", L"0123abcd", L"1.1.0.1010"};
const std::wstring kTail = L"&game={3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}&mid=0123abcd&ver=1.1.0.1010";
const std::wstring kBase = L"http://stats.example.invalid/s.php";

std::wstring Url(const wchar_t* action, const wchar_t* event, int tg, int cg, int cwdm) {
  return BuildReportUrl(kBase, action, event, tg, cg, cwdm, kId);
}

TEST(ReportUrl, EveryEventOfTheTable) {
  struct Case {
    const wchar_t* action;
    const wchar_t* event;
    int tg, cg, cwdm;
    std::wstring expected;
    std::wstring end;  // the sharing figures come last
  } cases[] = {
      {L"1", L"Initial", 1, 1, 2, L"?action=1", L""},
      {L"2", L"StartDownload", 1, 0, 0, L"?action=2&tg=1", L""},
      {L"2", L"StartDownload", 0, 5, 5, L"?action=2&tg=0", L""},
      {L"3", L"PauseDownload", 1, 0, 3, L"?action=3", L""},
      {L"4", L"RestartDownload", 1, 0, 3, L"?action=4", L""},
      {L"5", L"CompleteDownload", 0, 1, -1, L"?action=5&cg=1", L"&pb=0&ps=0"},
      {L"5", L"CompleteDownload", 0, 0, 2, L"?action=5&cg=0&cwdm=2", L"&pb=0&ps=0"},
      {L"5", L"CompleteDownload", 0, 0, 3, L"?action=5&cg=0&cwdm=3", L"&pb=0&ps=0"},
      {L"5", L"CompleteDownload", 1, 0, 4, L"?action=5&cg=0&cwdm=4", L"&pb=0&ps=0"},
      {L"6", L"", 1, 0, 3, L"?action=6", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Url(c.action, c.event, c.tg, c.cg, c.cwdm), kBase + c.expected + kTail + c.end) << c.event;
  }
}

TEST(ReportUrl, EventNamesMatchExactly) {
  EXPECT_EQ(Url(L"2", L"startdownload", 1, 0, 0), kBase + L"?action=2" + kTail);
  EXPECT_EQ(Url(L"5", L"CompleteDownload ", 0, 0, 2), kBase + L"?action=5" + kTail);
}

TEST(ReportUrl, EmptyBaseAndMissingIdentityStillMakeAUrl) {
  EXPECT_EQ(BuildReportUrl(L"", L"1", L"Initial", 0, 0, 0, ReportIdentity{}), L"?action=1&game=&mid=&ver=");
}

TEST(ReportUrl, ValuesAreNotEncoded) {
  ReportIdentity id = {L"a b&c", L"m", L"v"};
  EXPECT_EQ(BuildReportUrl(L"http://h/p?x=1", L"3", L"PauseDownload", 0, 0, 0, id),
            L"http://h/p?x=1?action=3&game=a b&c&mid=m&ver=v");
}

TEST(ReportUrl, SharingFiguresEndTheCompletionOnly) {
  const PeerFigures peers{123456789012345ull, UINT64_MAX};
  EXPECT_EQ(BuildReportUrl(kBase, L"5", L"CompleteDownload", 0, 1, -1, kId, peers),
            kBase + L"?action=5&cg=1" + kTail + L"&pb=123456789012345&ps=18446744073709551615");
  EXPECT_EQ(BuildReportUrl(kBase, L"2", L"StartDownload", 1, 0, 0, kId, peers), kBase + L"?action=2&tg=1" + kTail);
}

}  // namespace
