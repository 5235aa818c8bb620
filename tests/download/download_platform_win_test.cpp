#include "download/download_platform_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "support/temp_folder.h"

namespace {

void WriteBytes(const std::wstring& path, size_t count) {
  std::ofstream(path.c_str(), std::ios::binary) << std::string(count, 'x');
}

TEST(WinDiskSystemTest, DirectoryChecksOnARealFolder) {
  CWinDiskSystem disk;
  const TempFolder temp("gd-dl-win");
  const std::wstring folder = temp.Path().wstring();
  ASSERT_TRUE(disk.PathExists(folder));
  EXPECT_TRUE(IsFatVolume(disk, folder + L"\\missing"));

  const std::wstring probe = folder + L"\\game.exe";
  EXPECT_TRUE(CanWriteDir(disk, probe));
  EXPECT_FALSE(disk.PathExists(probe)) << "the probe directory is removed again";

  uint64_t freeBytes = 0;
  ASSERT_TRUE(disk.GetFreeBytes(folder, &freeBytes));
  EXPECT_GT(freeBytes, 0u);
  EXPECT_TRUE(HasEnoughSpace(disk, folder, 1, L"game.exe"));
  EXPECT_FALSE(HasEnoughSpace(disk, folder, freeBytes + (1ull << 40), L"game.exe"));

  // The engine's partial data beside the target counts as space it will reuse.
  WriteBytes(probe + L".P2P", 4096);
  EXPECT_EQ(disk.FileSize(probe + L".P2P"), 4096u);
  EXPECT_EQ(disk.FileSize(folder + L"\\none"), 0u);

  WriteBytes(probe, 10);
  EXPECT_TRUE(CanWriteDir(disk, probe)) << "an existing file passes";
  EXPECT_TRUE(disk.IsFileComplete(probe, 10));
  EXPECT_FALSE(disk.IsFileComplete(probe, 11));
  disk.DeletePath(probe);
  disk.DeletePath(probe + L".P2P");
  EXPECT_FALSE(disk.PathExists(probe));
  ::RemoveDirectoryW(folder.c_str());
  EXPECT_FALSE(disk.PathExists(folder));
}

TEST(WinDiskSystemTest, VolumeOfTheTempFolderHasAFileSystemName) {
  CWinDiskSystem disk;
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring name;
  ASSERT_TRUE(disk.GetFileSystemName(std::wstring(temp).substr(0, 3), &name));
  EXPECT_FALSE(name.empty());
  EXPECT_NE(disk.LogicalDrives() & (1u << (temp[0] - L'A')), 0u);
}

TEST(WinDiskSystemTest, SuiteDirectoriesComeFromAppPaths) {
  const wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tarnsd.exe";
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    GTEST_SKIP() << "machine keys are not writable here";
  }
  const wchar_t kValue[] = L"C:\\Program Files\\Tarnsd";
  ::RegSetValueExW(key, L"path", 0, REG_SZ, reinterpret_cast<const BYTE*>(kValue), sizeof kValue);
  ::RegCloseKey(key);

  CWinDiskSystem disk;
  const std::vector<std::wstring> dirs = disk.SuiteDirs();
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
  // Other suite keys of the machine may be listed too; ours must be there.
  ASSERT_NE(std::find(dirs.begin(), dirs.end(), std::wstring(kValue)), dirs.end());
  EXPECT_FALSE(IsOutsideSuiteDirs(L"C:\\Program Files\\Tarnsd\\games", dirs));
  EXPECT_TRUE(IsOutsideSuiteDirs(L"C:\\Program Files\\Tarnsd2", dirs));
}

TEST(CompanionMutexTest, SecondOpeningFindsItTakenAndOthersMayOpenIt) {
  HANDLE before = ::OpenMutexW(SYNCHRONIZE, FALSE, kCompanionMutexName);
  if (before != nullptr) {
    ::CloseHandle(before);
    GTEST_SKIP() << "a companion download is under way on this machine";
  }
  EXPECT_FALSE(IsCompanionMutexTaken());
  EXPECT_TRUE(IsCompanionMutexTaken()) << "this process's own earlier mark counts";
  HANDLE other = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kCompanionMutexName);
  ASSERT_NE(other, nullptr) << "the mark stays while the process lives";
  // Not owned by its creator: anyone can take it.
  EXPECT_EQ(::WaitForSingleObject(other, 0), WAIT_OBJECT_0);
  ::ReleaseMutex(other);
  ::CloseHandle(other);
}

}  // namespace
