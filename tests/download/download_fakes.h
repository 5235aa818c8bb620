#pragma once

// Stand-ins for the engine, the window, the disk, the report queue and the
// resume file, recording what the download decisions asked of them.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "download/download_driver.h"
#include "state/resume_state.h"

// A disk of drives and files held in tables.
class FakeDisk : public IDiskSystem, public IDownloadFiles {
 public:
  std::set<std::wstring> paths;
  std::map<std::wstring, uint64_t> sizes;
  std::set<std::wstring> badMd5;
  std::map<std::wstring, std::wstring> fileSystems;  // root -> name
  std::map<std::wstring, uint64_t> freeBytes;        // root -> bytes
  std::set<std::wstring> readOnly;                   // roots where nothing can be created
  std::vector<std::wstring> suiteDirs;
  uint32_t drives = 0;
  std::vector<std::wstring> deleted;
  int quietDepth = 0;
  int loudProbes = 0;  // drive queries made while the system's dialogs were on

  void AddFile(const std::wstring& path, uint64_t size) {
    paths.insert(path);
    sizes[path] = size;
  }
  static std::wstring RootOf(const std::wstring& path) { return path.substr(0, 2) + L"\\"; }

  bool PathExists(const std::wstring& path) override {
    if (paths.count(path)) return true;
    if (path.size() > 3 && path.back() == L'\\' && paths.count(path.substr(0, path.size() - 1))) return true;
    // "D:" and "D:\" name a drive that is there.
    if (path.size() <= 3 && path.size() >= 2 && path[1] == L':') return fileSystems.count(RootOf(path)) != 0;
    return false;
  }
  bool GetFileSystemName(const std::wstring& root, std::wstring* name) override {
    loudProbes += quietDepth == 0;
    auto it = fileSystems.find(root);
    if (it == fileSystems.end()) return false;
    *name = it->second;
    return true;
  }
  bool CreateDir(const std::wstring& path) override {
    if (path.size() < 2 || readOnly.count(RootOf(path)) || !fileSystems.count(RootOf(path))) return false;
    paths.insert(path);
    return true;
  }
  bool RemoveDir(const std::wstring& path) override { return paths.erase(path) != 0; }
  bool GetFreeBytes(const std::wstring& dir, uint64_t* bytes) override {
    loudProbes += quietDepth == 0;
    auto it = freeBytes.find(RootOf(dir));
    if (it == freeBytes.end()) return false;
    *bytes = it->second;
    return true;
  }
  uint64_t FileSize(const std::wstring& path) override {
    auto it = sizes.find(path);
    return it == sizes.end() ? 0 : it->second;
  }
  std::vector<std::wstring> SuiteDirs() override { return suiteDirs; }
  uint32_t LogicalDrives() override { return drives; }
  void QuietDriveErrors(bool quiet) override { quietDepth += quiet ? 1 : -1; }
  void DeletePath(const std::wstring& path) override {
    deleted.push_back(path);
    paths.erase(path);
    sizes.erase(path);
  }
  bool IsFileComplete(const std::wstring& path, uint64_t size) override {
    return paths.count(path) && size != 0 && FileSize(path) == size;
  }
  bool VerifyFileMd5(const std::wstring& path, const std::wstring&) override {
    return paths.count(path) && !badMd5.count(path);
  }
};

// Behaves as our engine does where the download window can tell: the side
// file "<target>.P2P" appears only once a task first runs (with the record
// of its MD5 text), whether or not the target is there already: a run
// fetches the file again and renames it over the target; a finished task
// does not run again; a plain link takes the MD5 text over only from such a
// record; one run per target. Status records are set by the tests.
class FakeEngine : public IDownloadEngine {
 public:
  struct Creation {
    void* window;
    std::wstring url;
    std::wstring path;
  };

  struct Task {
    std::wstring url, path, h1;
    bool live = true, running = false, spanOpen = false;
  };

  FakeDisk* disk = nullptr;  // when set, side files appear on it
  std::map<int, Task> tasks;
  std::map<std::wstring, std::wstring> recordH1;  // target -> MD5 text of its record
  int closedSpans = 0;                            // download-time spans closed by a stop
  int lostSpans = 0;                              // spans of tasks removed while still open
  int callsAfterUninit = 0;
  int maxRunsPerTarget = 0;
  bool loaded = true;
  int nextId = 1;
  bool failCreate = false;
  std::map<int, TaskStatus> status;
  std::vector<Creation> created;
  std::vector<int> started, stopped, removed, queried;
  int uninits = 0;

  bool IsLoaded() override { return loaded; }
  void Init() override {}
  void SetSeedUrl(const std::wstring&) override {}
  void DiscardOldTargets() override { discardOldTargets = true; }
  bool discardOldTargets = false;
  int CreateP2SPTask(void* window, const std::wstring& url, const std::wstring& path) override {
    callsAfterUninit += uninits;
    created.push_back({window, url, path});
    if (failCreate) return 0;
    Task task;
    task.url = url;
    task.path = path;
    const size_t h1 = url.rfind(L"|h1=");
    if (url.rfind(L"PDown://", 0) == 0 && h1 != std::wstring::npos) {
      task.h1 = url.substr(h1 + 4);
    } else if (disk && disk->paths.count(path + L".P2P") && recordH1.count(path)) {
      task.h1 = recordH1[path];
    }
    tasks[nextId] = task;
    return nextId++;
  }
  std::wstring H1Of(int id) const {
    auto it = tasks.find(id);
    return it == tasks.end() ? std::wstring() : it->second.h1;
  }
  int RunsOn(const std::wstring& path) const {
    int n = 0;
    for (const auto& t : tasks) n += t.second.live && t.second.running && t.second.path == path;
    return n;
  }
  TaskStatus QueryTask(int taskId) override {
    queried.push_back(taskId);
    auto it = status.find(taskId);
    return it == status.end() ? TaskStatus() : it->second;
  }
  int StartTask(int taskId) override {
    callsAfterUninit += uninits;
    started.push_back(taskId);
    auto it = tasks.find(taskId);
    if (it == tasks.end() || !it->second.live) return 1;
    Task& task = it->second;
    if (status[taskId].state == kTaskStateFinished) return 1;
    // A file at the target moves aside, to be read for pieces.
    if (discardOldTargets && disk) disk->paths.erase(task.path);
    if (!task.running && disk && !disk->paths.count(task.path + L".P2P")) {
      disk->AddFile(task.path + L".P2P", 0);
      recordH1[task.path] = task.h1;
    }
    task.running = true;
    task.spanOpen = true;
    maxRunsPerTarget = std::max(maxRunsPerTarget, RunsOn(task.path));
    return 1;
  }
  int StopTask(int taskId) override {
    stopped.push_back(taskId);
    auto it = tasks.find(taskId);
    if (it != tasks.end() && it->second.live) {
      it->second.running = false;
      if (it->second.spanOpen) ++closedSpans;
      it->second.spanOpen = false;
    }
    return 1;
  }
  void RemoveTask(int taskId) override {
    removed.push_back(taskId);
    auto it = tasks.find(taskId);
    if (it == tasks.end() || !it->second.live) return;
    if (it->second.spanOpen) ++lostSpans;
    it->second = Task{it->second.url, it->second.path, it->second.h1, false, false, false};
  }
  void Uninit() override { ++uninits; }
};

class FakeWindow : public IDownloadWindow {
 public:
  int mode = 0;
  int progress = -1;
  std::wstring sizes, speed, shownDir;
  bool dirAccepted = false;
  std::set<int> timers;
  bool companionChecked = false;
  bool companionEnabled = true;
  bool online = true;
  bool companionMutexTaken = false;
  int mutexChecks = 0;
  std::vector<std::wstring> installersRun;
  int mutexHeld = 0;  // waits minus releases: the mutex is recursive for its owner
  int mutexTakes = 0, badReleases = 0;
  bool autoThreadRunning = false;
  int autoThreadStarts = 0, autoThreadStops = 0;
  std::vector<std::pair<int, int>> sent;
  std::vector<int> posted;
  std::deque<std::wstring> browseAnswers;  // empty: cancelled
  int browses = 0;
  std::vector<std::wstring> dirErrors;
  int dirErrorResult = 0;
  int downloadFailedShown = 0, downloadFailedResult = 1;
  std::vector<bool> fileCheckShown;
  int fileCheckResult = 1;
  int installShown = 0, installResult = 1;
  int fileErrShown = 0, fileErrResult = 1;
  int damagedShown = 0, damagedResult = 1;
  int dirOpenFailedShown = 0;
  std::vector<std::wstring> opened, selected;

  void* NotifyWindow() override { return reinterpret_cast<void*>(0x1234); }
  void SetTimer(int id) override { timers.insert(id); }
  void KillTimer(int id) override { timers.erase(id); }
  void SetMode(int m) override { mode = m; }
  void SetProgress(int percent) override { progress = percent; }
  void SetSizesText(const std::wstring& text) override { sizes = text; }
  void SetSpeedText(const std::wstring& text) override { speed = text; }
  void ShowSaveDir(const std::wstring& dir, bool accepted) override {
    shownDir = dir;
    dirAccepted = accepted;
  }
  bool IsCompanionChecked() override { return companionChecked; }
  void SetCompanionChecked(bool checked) override { companionChecked = checked; }
  void EnableCompanionCheckBox(bool enable) override { companionEnabled = enable; }
  bool IsInternetConnected() override { return online; }
  bool IsCompanionMutexTaken() override {
    ++mutexChecks;
    return companionMutexTaken;
  }
  void RunCompanionInstaller(const std::wstring& path) override { installersRun.push_back(path); }
  bool WaitItemMutex() override {
    ++mutexHeld;
    ++mutexTakes;
    return true;
  }
  void ReleaseItemMutex() override {
    // Not owned: ReleaseMutex fails and changes nothing.
    if (mutexHeld == 0) {
      ++badReleases;
      return;
    }
    --mutexHeld;
  }
  bool IsAutoThreadRunning() override { return autoThreadRunning; }
  void StartAutoThread() override {
    autoThreadRunning = true;
    ++autoThreadStarts;
  }
  void StopAutoThread() override {
    autoThreadRunning = false;
    ++autoThreadStops;
  }
  void SendCommand(int id, int lParam) override { sent.emplace_back(id, lParam); }
  void PostCommand(int id) override { posted.push_back(id); }
  bool BrowseForDir(std::wstring* dir) override {
    ++browses;
    if (browseAnswers.empty()) return false;
    *dir = browseAnswers.front();
    browseAnswers.pop_front();
    return true;
  }
  int ShowDirError(const std::wstring& message) override {
    dirErrors.push_back(message);
    return dirErrorResult;
  }
  int ShowDownloadFailedPrompt() override {
    ++downloadFailedShown;
    return downloadFailedResult;
  }
  int ShowFileCheckFailedPrompt(bool moreFiles) override {
    fileCheckShown.push_back(moreFiles);
    return fileCheckResult;
  }
  int ShowInstallPrompt() override {
    ++installShown;
    return installResult;
  }
  int ShowFileErrPrompt() override {
    ++fileErrShown;
    return fileErrResult;
  }
  int ShowFileDamagedPrompt() override {
    ++damagedShown;
    return damagedResult;
  }
  void ShowDirOpenFailedPrompt() override { ++dirOpenFailedShown; }
  void ShellOpen(const std::wstring& target) override { opened.push_back(target); }
  void OpenFolderAndSelect(const std::wstring& path) override { selected.push_back(path); }
};

struct ReportCall {
  std::wstring action;
  std::wstring eventName;
  int tg, cg, cwdm;
  PeerFigures peers;
};

class FakeReports : public IReportSink {
 public:
  std::vector<ReportCall> calls;
  void Report(const std::wstring& action, const std::wstring& eventName, int tg, int cg, int cwdm,
              const PeerFigures& peers) override {
    calls.push_back({action, eventName, tg, cg, cwdm, peers});
  }
  int Count(const std::wstring& action) const {
    int n = 0;
    for (const ReportCall& c : calls) n += c.action == action;
    return n;
  }
};

class FakeStore : public IResumeStore {
 public:
  bool exists = true;
  std::map<std::wstring, std::wstring> values;
  bool Exists() override { return exists; }
  void Reset() override {
    exists = true;
    values.clear();
  }
  std::wstring Read(const wchar_t* key, const wchar_t* defaultValue, size_t, bool* tooLong) override {
    if (tooLong) *tooLong = false;
    auto it = values.find(key);
    return it == values.end() ? defaultValue : it->second;
  }
  void Write(const wchar_t* key, const std::wstring& value) override { values[key] = value; }
};
