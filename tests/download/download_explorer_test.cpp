// Random orders of clicks, prompt answers, engine results, network and disk
// changes, thread moves and program restarts, with the flow's invariants
// checked after every step. A failing sequence is shrunk to the shortest
// one that still fails and printed with its seed.
//
// GD_EXPLORE_SEQUENCES=N runs N sequences instead of the default (for a
// longer run outside CI); GD_EXPLORE_SEED=S starts from seed S.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>

#include "download/download_driver.h"
#include "download/progress_text.h"
#include "flow_fakes.h"

namespace {

constexpr wchar_t kDir[] = L"D:\\games\\";
constexpr wchar_t kTemp[] = L"C:\\temp\\";
constexpr wchar_t kCompanionLink[] = L"http://dl.example.invalid/gardbox_setup.exe";
constexpr uint64_t kFileSize = 1000;
constexpr uint64_t kCompanionSize = 300;
constexpr uint64_t kChunk = 400;

enum Kind {
  kPressButton,  // the one action button the mode shows
  kChangeDir,
  kToggleBox,
  kTick,  // one timer that is set fires
  kThread,
  kEngineStall,  // the sources go quiet for 91 polls
  kEngineFail,   // the current game task fails (state 5)
  kCorrupt,      // the current file will fail its MD5 check
  kSlowRename,   // the current file appears only a few ticks after it is reported
  kNetwork,
  kReadOnly,
  kDeleteData,  // the player deletes the current side file
  kRestart,     // the program is killed and started again
  kEngineStep,  // the engine moves on between two polls (a file may end unseen)
  kKindCount
};
const char* const kKindNames[] = {"press",   "change-dir",  "toggle-box", "tick",      "thread",      "stall",  "fail",
                                  "corrupt", "slow-rename", "network",    "read-only", "delete-data", "restart",
                                  "engine-step"};

struct Event {
  Kind kind;
  uint32_t arg;  // also seeds the prompt answers inside the event
};

std::string Describe(const std::vector<Event>& events) {
  std::ostringstream out;
  for (size_t i = 0; i < events.size(); ++i)
    out << (i ? " " : "") << kKindNames[events[i].kind] << ":" << events[i].arg;
  return out.str();
}

// One world: the disk and the resume file outlive restarts of the program.
class World {
 public:
  explicit World(int files, bool companion) {
    settings.safecheck = L"1";
    settings.gameStart = L"a.bin";
    settings.companionLink = kCompanionLink;
    settings.tempDir = kTemp;
    for (int i = 0; i < files; ++i) {
      settings.fileList.push_back(
          GameFileEntry{kFileSize, L"http://dl.example.invalid/game/" + std::wstring(1, L'a' + i) + L".bin", L"md5"});
    }
    disk.fileSystems[L"D:\\"] = L"NTFS";
    disk.freeBytes[L"D:\\"] = 1ull << 40;
    disk.drives = 0x8;
    Start(companion);
  }

  std::string failure;  // the first broken invariant

  // What a person debugging a seed wants to see after each event.
  std::string State() {
    std::ostringstream out;
    out << "flow " << static_cast<int>(driver->Flow()) << " mode " << window->mode << " mutex " << window->mutexHeld
        << " thread " << static_cast<int>(window->thread) << " timers";
    for (int id : window->timers) out << " " << id;
    out << " |";
    for (const std::wstring& path : disk.paths) {
      if (path.size() > 3) out << " " << std::string(path.begin() + 3, path.end());
    }
    return out.str();
  }

  void Run(const Event& e) {
    std::mt19937 answers(e.arg);
    window->answer = [this, &answers](PromptKind kind) {
      const int result = static_cast<int>(answers() % 4);
      if (kind == PromptKind::DirError && result == PromptResultAction && answers() % 2) {
        window->browseAnswers.push_back(L"D:\\games");
      }
      return result;
    };
    window->threadInPrompts = e.arg % 2 != 0;
    const bool playerEvent = e.kind == kPressButton || e.kind == kChangeDir || e.kind == kToggleBox;
    if (playerEvent) closedPrompts.clear();
    switch (e.kind) {
      case kPressButton:
        Press(e.arg);
        break;
      case kChangeDir:
        if (!window->dirAccepted) {
          if (e.arg % 3) window->browseAnswers.push_back(L"D:\\games");
          driver->ChangeSaveDir();
        }
        break;
      case kToggleBox:
        if (window->companionEnabled) {
          window->companionChecked = !window->companionChecked;
          driver->OnCompanionToggled();
        }
        break;
      case kTick:
        Tick(e.arg);
        break;
      case kThread:
        window->ThreadStep();
        break;
      case kEngineStall:
        for (int i = 0; i < 91 && window->timers.count(kTimerPoll); ++i) {
          Quiet();
          driver->OnPollTimer();
          Check();
        }
        break;
      case kEngineFail:
        // A task that has finished stays finished.
        if (Live(driver->GameTask()) && engine->status[driver->GameTask()].state == kTaskStateRunning) {
          engine->status[driver->GameTask()].state = kTaskStateFailedDownload;
        }
        break;
      case kCorrupt:
        corrupt.insert(CurrentPath());
        break;
      case kSlowRename:
        slowRename.insert(CurrentPath());
        break;
      case kNetwork:
        window->online = !window->online;
        break;
      case kReadOnly:
        if (disk.readOnly.count(L"D:\\")) {
          disk.readOnly.clear();
        } else {
          disk.readOnly.insert(L"D:\\");
        }
        break;
      case kDeleteData:
        // Windows keeps a file the engine has open from being deleted.
        if (Running(driver->GameTask())) break;
        disk.paths.erase(CurrentPath() + L".P2P");
        playerDeleted = true;
        break;
      case kRestart:
        Restart(e.arg % 2 != 0);
        break;
      case kEngineStep:
        Progress();
        break;
      default:
        break;
    }
    Check();
  }

  // With the causes of trouble gone, the player reaches the end by the buttons
  // the window shows.
  void Finish() {
    window->online = true;
    disk.readOnly.clear();
    corrupt.clear();
    window->answer = [this](PromptKind kind) -> int {
      if (kind == PromptKind::DirError) {
        window->browseAnswers.push_back(L"D:\\games");
        return PromptResultAction;
      }
      return kind == PromptKind::Damaged ? PromptResultAction : 1;
    };
    window->threadInPrompts = true;
    for (int step = 0; step < 400 && failure.empty(); ++step) {
      if (driver->Flow() == DownloadFlow::Complete && AllFilesGood()) return;
      closedPrompts.clear();
      if (window->ThreadStep()) {
      } else if (!window->timers.empty()) {
        Tick(step);
      } else {
        Press(0);
      }
      Check();
    }
    if (failure.empty()) {
      std::ostringstream out;
      out << "the list never finished: flow " << static_cast<int>(driver->Flow()) << ", mode " << window->mode;
      failure = out.str();
    }
  }

 private:
  void Start(bool companion) {
    engine = std::make_unique<FakeEngine>();
    engine->disk = &disk;
    engine->recordH1 = records;
    window = std::make_unique<LiveWindow>();
    window->companionChecked = companion;
    window->onPrompt = [this](PromptKind kind, int result) {
      if (closedPrompts.count(kind)) Fail("a prompt came back without anything new from the player");
      if (result != PromptResultAction && kind != PromptKind::Install) closedPrompts.insert(kind);
    };
    reports = std::make_unique<FakeReports>();
    driver = std::make_unique<CDownloadDriver>(*engine, *window, disk, disk, *reports, resume, settings);
    window->driver = driver.get();
    driver->StartEngine();
    const int code = DetectResumeState(resume, disk, settings.fileList, settings.safecheck, driver->Progress());
    if (code == ResumeNone) {
      driver->Progress().saveDir = kDir;
      disk.paths.insert(L"D:\\games");
    }
    driver->OnStartup(code);
    if (driver->Progress().saveDir.empty()) driver->Progress().saveDir = kDir;
  }

  void Restart(bool killed) {
    if (!killed) driver->CloseEngine();
    records = engine->recordH1;
    closedPrompts.clear();
    Start(window->companionChecked);
  }

  void Press(uint32_t arg) {
    switch (window->mode) {
      case ModeReady:
        window->SendCommand(kCmdDownload, 0);
        break;
      case ModePaused:
        driver->OnContinueCommand();
        break;
      case ModeDownloading:
        driver->OnPauseCommand();
        break;
      case ModeFinished:
        driver->RunInstaller();
        break;
      case ModeRestart:
        // 重新下载, or the download button's command sent again.
        if (arg % 5 == 4) {
          window->SendCommand(kCmdDownload, 0);
        } else {
          driver->Redownload();
        }
        break;
      default:
        break;
    }
  }

  void Tick(uint32_t arg) {
    if (window->timers.empty()) return;
    auto it = window->timers.begin();
    std::advance(it, arg % window->timers.size());
    const int id = *it;
    if (id == kTimerPoll) {
      Progress();
      driver->OnPollTimer();
    } else if (id == kTimerReconnect) {
      driver->OnReconnectTimer();
    } else if (id == kTimerFileWait) {
      if (arg % 3 == 0) Rename();
      driver->OnFileWaitTimer();
    }
  }

  bool Live(int id) const {
    auto it = engine->tasks.find(id);
    return id > 0 && it != engine->tasks.end() && it->second.live;
  }

  bool Running(int id) const { return Live(id) && engine->tasks.at(id).running; }

  std::wstring CurrentPath() const {
    const std::wstring& link = driver->Progress().currentItem.downloadLink;
    return driver->Progress().saveDir + link.substr(link.rfind(L'/') + 1);
  }

  // Every running task moves on by a chunk; sizes are known only once data
  // came in.
  void Progress() {
    for (auto& entry : engine->tasks) {
      FakeEngine::Task& task = entry.second;
      TaskStatus& status = engine->status[entry.first];
      if (!task.live || !task.running || status.state != 0) {
        status.linkSpeed = 0;
        continue;
      }
      const bool companion = task.path.rfind(kTemp, 0) == 0;
      const uint64_t size = companion ? kCompanionSize : kFileSize;
      const std::wstring side = task.path + L".P2P";
      if (!disk.paths.count(side)) {
        // The engine starts the file over, even beside a complete target.
        disk.AddFile(side, 0);
        engine->recordH1[task.path] = task.h1;
      }
      const uint64_t done = std::min(size, disk.sizes[side] + (window->online ? kChunk : 0));
      disk.sizes[side] = done;
      status = TaskStatus{done ? size : 0, done, window->online ? static_cast<uint32_t>(kChunk) : 0, 0, 0};
      if (done < size) continue;
      if (!companion && task.h1.empty()) Fail("a file finished without its MD5 check");
      if (corrupt.count(task.path)) {
        disk.paths.erase(side);  // the engine drops data that failed its check
        corrupt.erase(task.path);
        status.state = kTaskStateFailedCheck;
        continue;
      }
      status.state = kTaskStateFinished;
      if (slowRename.count(task.path)) {
        pendingRename.insert(task.path);
      } else {
        disk.paths.erase(side);
        disk.AddFile(task.path, size);
      }
    }
  }

  void Quiet() {
    for (auto& entry : engine->status) entry.second.linkSpeed = entry.second.otherSpeed = 0;
  }

  void Rename() {
    for (const std::wstring& path : pendingRename) {
      disk.paths.erase(path + L".P2P");
      disk.AddFile(path, kFileSize);
      slowRename.erase(path);
    }
    pendingRename.clear();
  }

  std::wstring PathOf(const GameFileEntry& entry) const {
    return driver->Progress().saveDir + entry.downloadLink.substr(entry.downloadLink.rfind(L'/') + 1);
  }

  bool AllFilesGood() {
    for (const GameFileEntry& entry : settings.fileList) {
      if (!disk.IsFileComplete(PathOf(entry), entry.size)) return false;
    }
    return true;
  }

  void Fail(const std::string& what) {
    if (failure.empty()) failure = what;
  }

  void Check() {
    if (engine->maxRunsPerTarget > 1) Fail("two tasks ran on one file");
    if (window->mutexHeld > 1) Fail("the item mutex was taken twice");
    if (window->badReleases > 0) Fail("the item mutex was released without being held");
    if ((window->mutexHeld == 1) != driver->HoldsItem()) Fail("the item mutex and the driver disagree");
    if (engine->callsAfterUninit > 0) Fail("the engine was used after Uninit");
    for (const std::wstring& path : disk.deleted) {
      if (path.size() > 4 && path.compare(path.size() - 4, 4, L".P2P") == 0) Fail("partial data was deleted");
    }
    bool started = false;
    for (const ReportCall& call : reports->calls) {
      started = started || call.action == kActionStartDownload || call.action == kActionRestartDownload;
      if (call.action == kActionCompleteDownload && !started) Fail("an end reported before any start");
      if (call.action == kActionCompleteDownload && call.cg == 0 && call.cwdm != kFailStalled &&
          call.cwdm != kFailCheck && call.cwdm != kFailDownload) {
        Fail("a failure reported with an unknown reason");
      }
      if (call.action == kActionCompleteDownload && call.cg == 1 && !reportedComplete.count(&call)) {
        if (!AllFilesGood()) Fail("success reported before every file was there");
        reportedComplete.insert(&call);
      }
    }
    // A state that waits on something must have that something.
    const DownloadFlow flow = driver->Flow();
    const bool poll = window->timers.count(kTimerPoll) != 0;
    if (flow == DownloadFlow::Downloading && !poll) Fail("downloading without the poll");
    if (flow == DownloadFlow::Offline && !window->timers.count(kTimerReconnect))
      Fail("offline without the reconnect timer");
    if (flow == DownloadFlow::WaitingFile && !window->timers.count(kTimerFileWait)) Fail("waiting without timer 2");
    if (flow == DownloadFlow::BetweenFiles && !window->IsAutoThreadRunning()) Fail("between files without the thread");
    if (flow == DownloadFlow::Starting) Fail("left in the middle of a start");
    if (poll && flow != DownloadFlow::Downloading) Fail("the poll runs outside a download");
    if ((flow == DownloadFlow::Paused || flow == DownloadFlow::ListStopped) && window->mode != ModePaused) {
      Fail("stopped without the continue button");
    }
    // A side file beside a finished file makes the next start take the list
    // for a partial download.
    if (flow == DownloadFlow::Complete && AllFilesGood()) {
      for (const GameFileEntry& entry : settings.fileList) {
        if (disk.paths.count(PathOf(entry) + L".P2P")) Fail("a side file beside a finished file");
      }
    }
  }

  DownloadSettings settings;
  FakeDisk disk;
  FakeStore store;
  CResumeState resume{store};
  std::map<std::wstring, std::wstring> records;
  std::unique_ptr<FakeEngine> engine;
  std::unique_ptr<LiveWindow> window;
  std::unique_ptr<FakeReports> reports;
  std::unique_ptr<CDownloadDriver> driver;
  std::set<std::wstring> corrupt, slowRename, pendingRename;
  std::set<PromptKind> closedPrompts;
  std::set<const ReportCall*> reportedComplete;
  bool playerDeleted = false;
};

struct Sequence {
  int files;
  bool companion;
  std::vector<Event> events;
};

Sequence Generate(uint32_t seed) {
  std::mt19937 rng(seed);
  Sequence s;
  s.files = 1 + static_cast<int>(rng() % 3);
  s.companion = rng() % 2 != 0;
  const int length = 10 + static_cast<int>(rng() % 50);
  // Ordinary things are frequent, troubles rarer.
  static const int kWeights[kKindCount] = {6, 1, 1, 10, 5, 1, 1, 1, 1, 2, 1, 1, 1, 2};
  std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
  for (int i = 0; i < length; ++i)
    s.events.push_back(Event{static_cast<Kind>(pick(rng)), static_cast<uint32_t>(rng())});
  return s;
}

std::string Play(const Sequence& s) {
  World world(s.files, s.companion);
  const bool trace = std::getenv("GD_EXPLORE_TRACE") != nullptr;
  for (const Event& e : s.events) {
    world.Run(e);
    if (trace) std::printf("%-12s %s\n", kKindNames[e.kind], world.State().c_str());
    if (!world.failure.empty()) return world.failure;
  }
  world.Finish();
  return world.failure;
}

// Drops events one at a time while the sequence still fails.
Sequence Shrink(Sequence s) {
  for (bool smaller = true; smaller;) {
    smaller = false;
    for (size_t i = 0; i < s.events.size(); ++i) {
      Sequence t{s.files, s.companion, {}};
      for (size_t j = 0; j < s.events.size(); ++j) {
        if (j != i) t.events.push_back(s.events[j]);
      }
      if (!Play(t).empty()) {
        s = t;
        smaller = true;
        --i;
      }
    }
  }
  return s;
}

TEST(DownloadExplorerTest, RandomOrdersKeepTheInvariants) {
  const char* count = std::getenv("GD_EXPLORE_SEQUENCES");
  const char* first = std::getenv("GD_EXPLORE_SEED");
  const uint32_t sequences = count ? static_cast<uint32_t>(std::strtoul(count, nullptr, 10)) : 3000;
  const uint32_t base = first ? static_cast<uint32_t>(std::strtoul(first, nullptr, 10)) : 1;
  for (uint32_t seed = base; seed < base + sequences; ++seed) {
    const Sequence s = Generate(seed);
    if (Play(s).empty()) continue;
    const Sequence small = Shrink(s);
    if (std::getenv("GD_EXPLORE_TRACE")) Play(small);
    FAIL() << "seed " << seed << " (" << s.files << " files, companion " << s.companion << "): " << Play(small)
           << "\n  shortest: " << Describe(small.events);
  }
}

}  // namespace
