// Prints every report URL the program sends, one a line, built by the
// program's own URL builder with the base, game, mid and ver given, and the
// completions' sharing figures (0 when not given).
#include <cstdio>
#include <cstdlib>

#include "config/profile_text.h"
#include "contract/report_words.h"
#include "stats/report_url.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 7) {
    std::fprintf(stderr, "usage: report_urls BASE GAME MID VER [PB PS]\n");
    return 2;
  }
  PeerFigures peers;
  if (argc == 7) peers = {std::strtoull(argv[5], nullptr, 10), std::strtoull(argv[6], nullptr, 10)};
  const ReportIdentity id{Utf8ToWide(argv[2]), Utf8ToWide(argv[3]), Utf8ToWide(argv[4])};
  const std::wstring base = Utf8ToWide(argv[1]);
  struct Event {
    const wchar_t* action;
    const wchar_t* name;
    int tg, cg, cwdm;
  };
  // The program's events: Initial, StartDownload (companion ticked or not),
  // Pause, Restart, CompleteDownload (done, stalled, check failed, failed),
  // and the set-up-again report with the empty name.
  using namespace report_words;
  const Event events[] = {
      {kActionInitial.wide, L"Initial", 0, 0, 0},
      {kActionStartDownload.wide, kEventStartDownload, 1, 0, 0},
      {kActionStartDownload.wide, kEventStartDownload, 0, 0, 0},
      {kActionPauseDownload.wide, L"PauseDownload", 0, 0, 0},
      {kActionRestartDownload.wide, L"RestartDownload", 0, 0, 0},
      {kActionCompleteDownload.wide, kEventCompleteDownload, 0, kCompleted, 0},
      {kActionCompleteDownload.wide, kEventCompleteDownload, 0, kFailed, kFailStalled},
      {kActionCompleteDownload.wide, kEventCompleteDownload, 0, kFailed, kFailCheck},
      {kActionCompleteDownload.wide, kEventCompleteDownload, 0, kFailed, kFailDownload},
      {kActionRedownload.wide, L"", 0, 0, 0},
  };
  for (const Event& e : events)
    std::printf("%s\n", WideToUtf8(BuildReportUrl(base, e.action, e.name, e.tg, e.cg, e.cwdm, id, peers)).c_str());
  return 0;
}
