#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/download_driver.h"
#include "download/save_dir_rules.h"

// Named so that other processes (and the protection tool itself) can see that
// a companion download is under way.
constexpr wchar_t kCompanionMutexName[] = L"gardboxdownloading_{947FA079-EA1A-4987-BE02-F4E20A20CD1C}";

// Opens the companion mutex, open to every user. True when it existed before
// this call, whoever made it. The handle stays open for the process.
bool IsCompanionMutexTaken();

// True when a full-screen program (a game, a presentation) is in front, so
// that the download window and its prompts keep out of its way.
bool IsFullScreenAppActive();

// The disk as the save-directory rules and the completion checks see it.
class CWinDiskSystem : public IDiskSystem, public IDownloadFiles {
 public:
  bool PathExists(const std::wstring& path) override;
  bool GetFileSystemName(const std::wstring& root, std::wstring* name) override;
  bool CreateDir(const std::wstring& path) override;
  bool RemoveDir(const std::wstring& path) override;
  bool GetFreeBytes(const std::wstring& dir, uint64_t* freeBytes) override;
  uint64_t FileSize(const std::wstring& path) override;
  // The "path" values of the security suite's App Paths keys.
  std::vector<std::wstring> SuiteDirs() override;
  uint32_t LogicalDrives() override;
  void QuietDriveErrors(bool quiet) override;
  void DeletePath(const std::wstring& path) override;
  bool IsFileComplete(const std::wstring& path, uint64_t size) override;
  bool VerifyFileMd5(const std::wstring& path, const std::wstring& md5Text) override;

 private:
  int m_quietDepth = 0;
  unsigned m_savedErrorMode = 0;
};

// Reports into the process's statistics queue.
class CStatsReportSink : public IReportSink {
 public:
  explicit CStatsReportSink(std::wstring base) : m_base(std::move(base)) {}
  void Report(const std::wstring& action, const std::wstring& eventName, int tg, int cg, int cwdm,
              const PeerFigures& peers) override;

 private:
  std::wstring m_base;
};
