// pdown [--seed URL] [--connections N] [--stall-timeout S] [--retries N] [--quiet]
//       [--max-speed BYTES] [--no-share] [--upload-cap BYTES] [--peers-served N] [--share-on IPV4] [--linger S]
//       [--discard-old-target] LINK TARGET
// Runs one download to its end, then prints on stdout how many bytes came
// from other players and how many it served them. Exit status: 0 finished,
// 5 download failed, 6 check failed, 2 bad arguments, 3 interrupted (progress kept).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/pdown_args.h"
#include "core/engine.h"
#include "core/text.h"

namespace {

std::atomic<bool> g_interrupted{false};

void OnSignal(int) { g_interrupted = true; }

int Usage(const p2sp::PdownArgs<char>& args) {
  if (args.badOption && !args.valueMissing)
    std::fprintf(stderr, "pdown: %s: bad value \"%s\"\n", args.badOption, args.badValue.c_str());
  else if (args.badOption)
    std::fprintf(stderr, "pdown: %s needs a value\n", args.badOption);
  std::fprintf(stderr, "%s", p2sp::kPdownUsage);
  return 2;
}

// A text option from an argument (UTF-8 here).
void SetTextOption(p2sp::Engine& engine, int option, const std::string& utf8) {
  const std::u16string units = engine_contract::EncodeOptionText(p2sp::Utf8ToWide(utf8));
  engine.SetOption(option, units.data(), engine_contract::OptionTextBytes(units));
}

}  // namespace

int main(int argc, char** argv) {
  p2sp::PdownArgs<char> args;
  if (!p2sp::ParsePdownArgs(argc, argv, &args)) return Usage(args);
  const std::string& link = args.link;
  const std::string& target = args.target;
  const bool quiet = args.quiet;

  p2sp::Engine engine;
  engine.Init();
  if (!args.seed.empty()) SetTextOption(engine, p2sp::kOptionSeedUrl, args.seed);
  int32_t v;
  if (args.connections > 0) engine.SetOption(p2sp::kOptionMaxConnections, &(v = args.connections), 4);
  if (args.stallSeconds > 0) engine.SetOption(p2sp::kOptionStallSeconds, &(v = args.stallSeconds), 4);
  if (args.retries >= 0) engine.SetOption(p2sp::kOptionRetries, &(v = args.retries), 4);
  engine.SetOption(p2sp::kOptionPeerSharing, &(v = args.share ? 1 : 0), 4);
  if (args.uploadCap >= 0) engine.SetOption(p2sp::kOptionUploadCap, &(v = args.uploadCap), 4);
  if (args.maxSpeed > 0) engine.SetOption(p2sp::kOptionDownloadCap, &(v = args.maxSpeed), 4);
  if (args.discardOldTarget) engine.SetOption(p2sp::kOptionDiscardOldTarget, &(v = 1), 4);
  if (args.peersServed > 0) engine.SetOption(p2sp::kOptionMaxPeersServed, &(v = args.peersServed), 4);
  if (!args.shareOn.empty()) SetTextOption(engine, p2sp::kOptionShareAddress, args.shareOn);

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  int task = engine.CreateTask(link, target);
  engine.StartTask(task);
  bool tty = isatty(2);
  p2sp::TaskProgress status;
  int ticks = 0;
  for (;;) {
    // Short naps: the end of the task should end the program at once.
    usleep(5 * 1000);
    engine.QueryTask(task, &status);
    bool over = status.state != p2sp::kTaskStateRunning || !status.active;
    if (!quiet && (++ticks % 100 == 0 || over)) {
      std::string line = p2sp::ProgressLine(status.done, status.total, status.Speed());
      std::fprintf(stderr, tty ? "\r%s\033[K" : "%s\n", line.c_str());
    }
    // A task that has ended ends the program as it ended, signal or not.
    if (g_interrupted && !over) {
      engine.StopTask(task);
      engine.Uninit();
      if (!quiet) std::fprintf(stderr, "\ninterrupted; progress kept in %s\n", engine_contract::SideFilePath(target).c_str());
      return 3;
    }
    if (over) break;
  }
  if (!quiet && tty) std::fputc('\n', stderr);
  // Other players may still want what this one has now.
  for (int waited = 0; status.state == p2sp::kTaskStateFinished && waited < args.lingerSeconds * 10 && !g_interrupted;
       ++waited)
    usleep(100 * 1000);
  std::printf("%s\n", p2sp::PdownSummary(status.done, status.peerBytes, engine.ServedBytes()).c_str());
  std::fflush(stdout);
  engine.Uninit();
  switch (status.state) {
    case p2sp::kTaskStateFinished:
      return 0;
    case p2sp::kTaskStateFailedCheck:
      if (!quiet) std::fprintf(stderr, "pdown: the file failed its check\n");
      return 6;
    default:
      if (!quiet) std::fprintf(stderr, "pdown: the download failed\n");
      return 5;
  }
}
