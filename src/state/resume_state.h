#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "config/game_file_entry.h"

// What the download window finds at start-up for the game's saved download.
enum ResumeCode : int {
  ResumeNone = 0,          // nothing usable: start fresh
  ResumePartial = 1,       // a file of the list is partly downloaded
  ResumeComplete = 2,      // every file is there
  ResumeSomeComplete = 4,  // some files are done, the next has not begun
};

// The values of the resume file, one section of key = text pairs. On Windows
// this is the private-profile file in the temporary folder; tests use a map.
class IResumeStore {
 public:
  virtual bool Exists() = 0;
  // Leaves an existing, empty file.
  virtual void Reset() = 0;
  // Reads at most `maxChars` characters; `tooLong` is set when the stored
  // value did not fit. A missing key reads as `defaultValue`.
  virtual std::wstring Read(const wchar_t* key, const wchar_t* defaultValue, size_t maxChars, bool* tooLong) = 0;
  virtual void Write(const wchar_t* key, const std::wstring& value) = 0;

 protected:
  ~IResumeStore() = default;
};

// The file operations that resume detection needs.
class IResumeFiles {
 public:
  virtual bool PathExists(const std::wstring& path) = 0;
  virtual void DeletePath(const std::wstring& path) = 0;
  // The file exists, is not empty and has exactly `size` bytes.
  virtual bool IsFileComplete(const std::wstring& path, uint64_t size) = 0;
  virtual bool VerifyFileMd5(const std::wstring& path, const std::wstring& md5Text) = 0;

 protected:
  ~IResumeFiles() = default;
};

// Longest "Dir" value accepted; the file stores what fits a MAX_PATH buffer.
constexpr size_t kMaxStoredDirChars = 259;
// Companion installer size assumed before its download has reported one.
constexpr uint64_t kDefaultCompanionSize = 10485760;

// Reads and writes the resume file's keys. Every Save writes only into a file
// that exists: only Reset creates it, so its existence means that a download
// was set up for this game on this machine.
class CResumeState {
 public:
  explicit CResumeState(IResumeStore& store) : m_store(store) {}

  bool ResumeFileExists() { return m_store.Exists(); }
  // Leaves an empty file that keeps only the player's choices (sharing, speed cap).
  void ResetResumeFile();

  void SaveDownloadDir(const std::wstring& dir);
  std::wstring LoadDownloadDir();
  void SaveInstallGardbox(int checkState);
  // Without a file the check box keeps `checkBoxState`.
  bool LoadInstallGardbox(bool checkBoxState);
  void SaveGardboxSize(uint64_t size);
  uint64_t LoadGardboxSize();
  void SaveDownloadTotalTime(uint64_t milliseconds);
  uint64_t LoadDownloadTotalTime();
  // Whether the player lets others fetch from this machine; on unless the
  // player turned it off.
  void SavePeerSharing(bool on);
  bool LoadPeerSharing();
  // The player's cap on download speed in bytes per second; 0 (no cap) unless
  // the player chose one.
  // Whether the download steps aside (slower, serving paused) while a
  // full-screen program is in front; on unless the player turned it off.
  void SaveStepAside(bool on);
  bool LoadStepAside();
  void SaveSpeedCap(uint32_t bytesPerSecond);
  uint32_t LoadSpeedCap();

 private:
  std::wstring ReadKey(const wchar_t* key, const wchar_t* defaultValue);

  IResumeStore& m_store;
};

// The download window's values that resume detection reads and sets.
struct ResumeProgress {
  std::wstring saveDir;                    // m_saveDir
  GameFileEntry currentItem;               // m_currentItem
  uint64_t completedBytes = 0;             // CompletedBytes
  std::deque<GameFileEntry> pendingItems;  // PendingItems
  // Files of the list kept in `heldDir` when the download starts over,
  // instead of being deleted: the engine reads each for the pieces that
  // match the file's manifest, fetches the others, and removes what it read
  // (at once when there is no manifest). Deleted after all if the download
  // goes to another folder or the program ends first.
  std::wstring heldDir;
  std::set<std::wstring> heldNames;
  bool heldSideFiles = false;  // their side files go with them when dropped
};

// Compares the saved directory with the file list and returns a ResumeCode.
// `safecheck` is the configuration's switch: "1" adds the MD5 check.
int DetectResumeState(CResumeState& state, IResumeFiles& files, const std::vector<GameFileEntry>& fileList,
                      const std::wstring& safecheck, ResumeProgress& progress);

// Deletes every listed file, its ".P2P" side file and any data the engine set
// aside beside it from the saved directory.
void DeleteDownloadedFiles(CResumeState& state, IResumeFiles& files, const std::vector<GameFileEntry>& fileList,
                           ResumeProgress& progress);

// Keeps the listed files of `dir` for the engine (see ResumeProgress::heldDir)
// where they would be deleted for a new start; `withSideFiles` where their
// side files would be deleted too.
void HoldDownloadedFiles(const std::wstring& dir, const std::vector<GameFileEntry>& fileList, bool withSideFiles,
                         ResumeProgress& progress);

// Deletes the held files (with their side files, when held with them, and
// anything the engine set aside for them) and forgets them.
void DropHeldFiles(IResumeFiles& files, ResumeProgress& progress);

// True when `dir` is the folder of the held files.
bool IsHeldDir(const ResumeProgress& progress, const std::wstring& dir);

// After the user picked another directory: when it lacks any listed file,
// the files of the saved directory cannot be completed there and go; the
// download then starts over from the first file.
void DeleteAllIfAnyMissing(CResumeState& state, IResumeFiles& files, const std::vector<GameFileEntry>& fileList,
                           ResumeProgress& progress);

// Private-profile style integer: leading blanks, an optional sign, digits up
// to the first other character; no digits reads as 0.
long long ParseProfileInteger(const std::wstring& text);
