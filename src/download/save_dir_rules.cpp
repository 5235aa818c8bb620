#include "download/save_dir_rules.h"

#include "contract/engine_contract.h"
#include "contract/text.h"

const wchar_t kFatMessage[] = L"磁盘格式为FAT32，无法保存大于4GB的文件，请更换为NTFS格式分区！";
const wchar_t kPermissionMessage[] = L"所选目录没有读写权限，请您重新选择目录!";
const wchar_t kSpaceMessage[] = L"磁盘空间不足，请您重新选择目录!";

const wchar_t* DirCheckMessage(DirCheck check) {
  switch (check) {
    case DirCheck::FatTooSmall:
      return kFatMessage;
    case DirCheck::NoPermission:
      return kPermissionMessage;
    case DirCheck::NoSpace:
      return kSpaceMessage;
    case DirCheck::Accepted:
      break;
  }
  return L"";
}

std::wstring WithTrailingBackslash(const std::wstring& dir) {
  if (!dir.empty() && dir.back() == L'\\') return dir;
  return dir + L"\\";
}

bool IsFatVolume(IDiskSystem& disk, const std::wstring& dir) {
  if (!disk.PathExists(dir)) return true;
  const size_t colon = dir.find(L':');
  const std::wstring root = (colon == std::wstring::npos ? dir : dir.substr(0, colon + 1)) + L"\\";
  std::wstring name;
  if (!disk.GetFileSystemName(root, &name)) return false;
  return name == L"FAT" || name == L"FAT32";
}

bool CanWriteDir(IDiskSystem& disk, const std::wstring& probe) {
  if (disk.PathExists(probe)) return true;
  if (!disk.CreateDir(probe)) return false;
  disk.RemoveDir(probe);
  return true;
}

namespace {

class ScopedQuietDrives {
 public:
  explicit ScopedQuietDrives(IDiskSystem& disk) : m_disk(disk) { m_disk.QuietDriveErrors(true); }
  ~ScopedQuietDrives() { m_disk.QuietDriveErrors(false); }
  ScopedQuietDrives(const ScopedQuietDrives&) = delete;
  ScopedQuietDrives& operator=(const ScopedQuietDrives&) = delete;

 private:
  IDiskSystem& m_disk;
};

// A folder typed with blanks around it is the same folder.
constexpr wchar_t kFolderBlanks[] = L" \t\r\n";

}  // namespace

bool IsOutsideSuiteDirs(const std::wstring& dir, const std::vector<std::wstring>& suiteDirs) {
  for (const std::wstring& suite : suiteDirs) {
    if (suite.empty()) continue;  // an empty value names no directory
    if (dir.size() < suite.size() || dir.compare(0, suite.size(), suite) != 0) continue;
    if (dir.size() == suite.size()) return false;
    if (dir[suite.size()] == L'\\') return false;
    if (gd_text::Trim(dir, kFolderBlanks) == gd_text::Trim(suite, kFolderBlanks)) return false;
  }
  return true;
}

bool HasEnoughSpace(IDiskSystem& disk, const std::wstring& dir, uint64_t needed, const std::wstring& partialName) {
  if (!disk.PathExists(dir)) return false;
  uint64_t freeBytes = 0;
  if (!disk.GetFreeBytes(dir, &freeBytes)) return false;
  if (!partialName.empty()) {
    const std::wstring dataFile = engine_contract::SideFilePath(WithTrailingBackslash(dir) + partialName);
    if (disk.PathExists(dataFile)) {
      const uint64_t held = disk.FileSize(dataFile);
      freeBytes = held > UINT64_MAX - freeBytes ? UINT64_MAX : freeBytes + held;
    }
  }
  return freeBytes > needed;
}

DirCheck CheckSaveDir(IDiskSystem& disk, const std::wstring& dir, uint64_t largestFile, uint64_t needed,
                      const std::wstring& fileName, const std::wstring& partialName) {
  const ScopedQuietDrives quiet(disk);
  if (largestFile > kFatFileLimit && IsFatVolume(disk, dir)) return DirCheck::FatTooSmall;
  if (!CanWriteDir(disk, WithTrailingBackslash(dir) + fileName) || !IsOutsideSuiteDirs(dir, disk.SuiteDirs())) {
    return DirCheck::NoPermission;
  }
  if (!HasEnoughSpace(disk, dir, needed, partialName)) return DirCheck::NoSpace;
  return DirCheck::Accepted;
}

std::wstring ProposeDefaultDir(IDiskSystem& disk, uint64_t totalGameSize, const std::wstring& firstFileName) {
  // Every drive letter is probed, removable ones included.
  const ScopedQuietDrives quiet(disk);
  const uint32_t drives = disk.LogicalDrives();
  const std::vector<std::wstring> suiteDirs = disk.SuiteDirs();
  std::wstring best;
  uint64_t bestFree = 0;
  for (int bit = 1; bit < 26; ++bit) {  // A: is never offered
    if ((drives & (1u << bit)) == 0) continue;
    const std::wstring drive = std::wstring(1, static_cast<wchar_t>(L'A' + bit)) + L":";
    if (totalGameSize > kFatFileLimit && IsFatVolume(disk, drive)) continue;
    if (!CanWriteDir(disk, drive + L"\\" + firstFileName)) continue;
    if (!IsOutsideSuiteDirs(drive, suiteDirs)) continue;
    uint64_t freeBytes = 0;
    if (!disk.GetFreeBytes(drive + L"\\", &freeBytes)) continue;
    if (freeBytes > bestFree) {
      best = drive;
      bestFree = freeBytes;
    }
  }
  if (best.empty()) return std::wstring();
  if (!HasEnoughSpace(disk, best + L"\\", totalGameSize, std::wstring())) return std::wstring();
  const std::wstring proposal = best + L"\\download\\";
  if (disk.PathExists(proposal) || disk.CreateDir(proposal)) return proposal;
  return std::wstring();
}
