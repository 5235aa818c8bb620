#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest file a FAT32 volume can hold, plus one: a file of exactly 4 GiB
// is let through, as the download window has always done.
constexpr uint64_t kFatFileLimit = 4294967296ull;

// The three refusals of a save directory, each with its message.
enum class DirCheck {
  Accepted,
  FatTooSmall,   // FAT volume and a file over 4 GiB
  NoPermission,  // cannot write, or a directory of the security suite
  NoSpace,       // not enough free space
};

extern const wchar_t kFatMessage[];
extern const wchar_t kPermissionMessage[];
extern const wchar_t kSpaceMessage[];
// Empty for DirCheck::Accepted.
const wchar_t* DirCheckMessage(DirCheck check);

// What the directory rules ask of the machine. On Windows these are the file,
// volume and registry calls; tests answer from a table.
class IDiskSystem {
 public:
  virtual bool PathExists(const std::wstring& path) = 0;
  // Name of the file system of a volume root such as "D:\".
  virtual bool GetFileSystemName(const std::wstring& root, std::wstring* name) = 0;
  virtual bool CreateDir(const std::wstring& path) = 0;
  virtual bool RemoveDir(const std::wstring& path) = 0;
  // Free bytes of the volume holding `dir` (all of them, not the caller's quota).
  virtual bool GetFreeBytes(const std::wstring& dir, uint64_t* freeBytes) = 0;
  // 0 when the file cannot be opened.
  virtual uint64_t FileSize(const std::wstring& path) = 0;
  // The security suite's directories that could be read from the registry.
  virtual std::vector<std::wstring> SuiteDirs() = 0;
  // Bit 0 is drive A.
  virtual uint32_t LogicalDrives() = 0;
  // While on, a drive without a disk (an empty card reader) answers with a
  // failure instead of the system's "no disk" dialog. Calls nest.
  virtual void QuietDriveErrors(bool quiet) = 0;

 protected:
  ~IDiskSystem() = default;
};

std::wstring WithTrailingBackslash(const std::wstring& dir);

// A directory that does not exist counts as FAT, so that nothing large is
// promised for it.
bool IsFatVolume(IDiskSystem& disk, const std::wstring& dir);

// The probe is the directory followed by the file to be written; an existing
// probe (the file already downloaded) passes, otherwise a directory of that
// name must be creatable.
bool CanWriteDir(IDiskSystem& disk, const std::wstring& probe);

// False for a directory of the security suite or one below it. A directory
// whose name merely begins with the same letters is someone else's.
bool IsOutsideSuiteDirs(const std::wstring& dir, const std::vector<std::wstring>& suiteDirs);

// Free space must exceed what is still needed. When the engine is resuming
// `partialName` in `dir`, its data file (name + ".P2P") will be reused, so its
// size counts as free. `partialName` may be empty.
bool HasEnoughSpace(IDiskSystem& disk, const std::wstring& dir, uint64_t needed, const std::wstring& partialName);

// The checks of a chosen directory, in the order the user hears of them.
// `largestFile` is the largest file of the list, `needed` the bytes still to
// download, `fileName` the file about to be written.
DirCheck CheckSaveDir(IDiskSystem& disk, const std::wstring& dir, uint64_t largestFile, uint64_t needed,
                      const std::wstring& fileName, const std::wstring& partialName);

// The directory offered at first start: "\download\" on the roomiest drive
// that can take the whole game, created when missing. Empty when no drive
// fits or the folder cannot be made.
std::wstring ProposeDefaultDir(IDiskSystem& disk, uint64_t totalGameSize, const std::wstring& firstFileName);
